#pragma once
// `monitor --reconnect`: the port supervisor in its resume-by-itself mode,
// telling on standard error when the link is lost and when it resumes.
#include <memory>
#include <mutex>

#include "core/context.h"
#include "core/link/port_supervisor.h"

namespace cli {

// Attached to ctx until it is destroyed; err_mu guards standard error.
std::unique_ptr<bms::PortSupervisor> MakeReconnectSupervisor(bms::Context& ctx, std::mutex& err_mu);

}  // namespace cli
