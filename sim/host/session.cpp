#include "sim/host/session.h"

#include "platform/foundation/home.h"
#include "platform/foundation/log.h"

namespace vantrel::sim {

DeviceSession::DeviceSession(DeviceFolder device, Log log) : device_(std::move(device)) {
    platform::setHomeDirectory(device_.home());
    platform::setLogFile(device_.log());
    if (log == Log::FileOnly) platform::setLogToStderr(false);
    platform::RunLoop::setMain(&loop_);
    loop_.exitOnTerminationSignals();
}

DeviceSession::~DeviceSession() {
    if (center_) platform::NotificationCenter::setDistributed(nullptr);
    center_.reset();
    platform::flushLog();
    platform::RunLoop::setMain(nullptr);
}

Result<void> DeviceSession::joinBus() {
    auto address = sim::busAddress(device_);
    if (!address)
        return failure("the device at " + device_.root + " is not running (" + deviceCommand(device_, "start") + ")",
                       kDeviceNotRunning);
    address_ = *address;
    center_ = std::make_unique<platform::DBusNotificationCenter>(address_, loop_);
    if (!center_->isConnected()) {
        center_.reset();
        return failure("the device bus cannot be joined");
    }
    platform::NotificationCenter::setDistributed(center_.get());
    return {};
}

}  // namespace vantrel::sim
