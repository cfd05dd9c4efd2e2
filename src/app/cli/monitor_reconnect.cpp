#include "app/cli/monitor_reconnect.h"

#include <iostream>
#include <string>

#include "app/cli/cli_common.h"

namespace cli {

std::unique_ptr<bms::PortSupervisor> MakeReconnectSupervisor(bms::Context& ctx, std::mutex& err_mu) {
  auto supervisor = std::make_unique<bms::PortSupervisor>(ctx, std::make_unique<bms::SysfsPortLocator>(), bms::PortSupervisor::Mode::Auto);
  supervisor->on_event = [&err_mu](const std::string& text) {
    std::lock_guard<std::mutex> lock(err_mu);
    std::cerr << "bmsmon-cli: " << Term(text) << std::endl;
  };
  supervisor->attach();
  return supervisor;
}

}  // namespace cli
