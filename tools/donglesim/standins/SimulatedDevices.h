#pragma once

// What the simulator and the stand-in DLLs agree on. The simulator serves a
// directory pipe that answers each connection with the device paths of the
// plugged devices, one per line; each device path is a named pipe whose name
// carries the device's identifiers as "vid_XXXX&pid_XXXX", in the form real
// HID paths have them.
#define QUORVEL_SIM_DIRECTORY_PIPE "\\\\.\\pipe\\quorvel-sim-directory"
#define QUORVEL_SIM_DEVICE_PIPE_PREFIX "\\\\.\\pipe\\quorvel-sim-hid#"
