#pragma once

#include <functional>

class GuiOperator;
class MainFormModel;

// Shows the main window of `form` for the mode it was started in: interactive and
// job-configuration mode until the window is unloaded; an unattended run shows the window while
// `unattendedRun` performs the run and unloads it. The operator reaches the window meanwhile.
void HostMainWindow(MainFormModel& form, GuiOperator& op,
                    const std::function<void()>& unattendedRun);
