#pragma once

#include <cstddef>

// The global variables a run writes into its package, in the order they are compared and
// written. A package that lacks one of them is not executed. The first eleven are compared with
// the run's settings (any difference sets OverwriteGlobalSettings); JobID and
// OverwriteGlobalSettings are written after them.
enum class RunVariableKind { Text, Boolean };

struct RunVariable {
    const char* name;
    RunVariableKind kind;
};

inline constexpr RunVariable kRunVariables[] = {
    {"ExceptionFilePath", RunVariableKind::Text},
    {"DTSServer", RunVariableKind::Text},
    {"DTSServerTrustedLogin", RunVariableKind::Boolean},
    {"DTSServerLoginUserName", RunVariableKind::Text},
    {"DTSServerLoginPassword", RunVariableKind::Text},
    {"DestinationServer", RunVariableKind::Text},
    {"DestServerTrustedLogin", RunVariableKind::Boolean},
    {"DestServerLoginUserName", RunVariableKind::Text},
    {"DestServerLoginPassword", RunVariableKind::Text},
    {"DestServerDatabaseName", RunVariableKind::Text},
    {"WriteCompletionStatusToNT", RunVariableKind::Boolean},
    {"JobID", RunVariableKind::Text},
    {"OverwriteGlobalSettings", RunVariableKind::Boolean},
};

// How many of kRunVariables are compared with the run's settings.
inline constexpr std::size_t kComparedRunVariables = 11;
inline constexpr std::size_t kJobIdVariable = 11;
inline constexpr std::size_t kOverwriteVariable = 12;
