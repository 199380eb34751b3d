// The running process's own id.
#pragma once

// This process's id, as the system shows it.
long own_process_id();
