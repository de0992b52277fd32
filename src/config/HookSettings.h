#pragma once

// Where the settings store keeps the commands run after an unattended run ends (its hooks) and
// how long they may take.
inline constexpr const char* HookSettingsKey = "Software\\Tessaly\\Pendrill\\Hooks";
inline constexpr const char* HookOnFailureValue = "OnFailure";
inline constexpr const char* HookOnSuccessValue = "OnSuccess";
inline constexpr const char* HookTimeoutValue = "TimeoutSeconds";
inline constexpr int DefaultHookTimeoutSeconds = 60;
