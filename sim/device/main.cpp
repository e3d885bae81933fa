// vantrel-device: the control tool of the simulated device, and its launchd. launchd owns the
// device's processes: the private dbus-daemon and SpringBoard, both its children; it starts
// SpringBoard again whenever it is killed (a respring), in safe mode after a crash loop, and
// ends both, by pid, when stopped. The commands (cli.h) are clients of SpringBoard's typed
// interface; the command line is parsed whole before any of them acts.
#include "sim/device/cli.h"

int main(int argc, char** argv) { return vantrel::sim::cli::run(argc, argv); }
