// Operating-system services of the entry point. Main thread.
#pragma once

#include <filesystem>

namespace orvalin {

// Takes the single-instance lock for the life of the process; false when
// another instance holds it.
bool take_single_instance_lock();

// Whether another process holds the single-instance lock; takes nothing.
bool another_instance_running();

// Starts the system's text editor (Notepad on Windows) with the file,
// without waiting; a failure to start is ignored.
void open_in_editor(const std::filesystem::path& file);

}  // namespace orvalin
