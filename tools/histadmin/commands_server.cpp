// histadmin serve: the server side. Sets the region up, optionally fills
// it, and keeps it alive (the region lives only while some process holds
// it) until SIGINT or SIGTERM.
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "commands.h"
#include "failure.h"
#include "kestihistadmin.h"
#include "load_report.h"
#include "region_obstacles.h"
#include "server_claim.h"
#include "service_notify.h"
#include "settings.h"

namespace kha::histadmin {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void RequestStop(int) { stop_requested = 1; }

struct ServeOptions {
  uint64_t size = 0;
  std::string load;
};

void Serve(const ServeOptions& options) {
  if (options.size > UINT32_MAX) FailUsage("--size: at most 4294967295 bytes");
  const auto size = static_cast<uint32_t>(options.size);

  // One server at a time, or two started together would both find no
  // region below and the second set-up would empty what the first loaded.
  ServerClaim claim;
  if (!claim.held()) Fail(claim.refusal());
  // Setting up over a running region would empty it under its users (a
  // region can also be served by a program other than this one).
  if (AttachToKestiHistAdminSharedMemory() == 0) {
    (void)DetachFromKestiHistAdminSharedMemory();
    Fail("a HistAdmin region is already running; stop its `histadmin serve` first");
  }

  // Installed before the region exists: a signal from now on ends the
  // wait below, and the region is always released by a detach.
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  if (const int32_t setup = SetupAndAttachToKestiHistAdminSharedMemory(size); setup != 0) {
    const int os_error = LastOsError();  // before the report below makes calls of its own
    ReportRegionObstacles(size);
    FailWithCode(setup, "cannot set up the HistAdmin region", os_error);
  }
  std::string loaded = "empty";
  int32_t code = 0;
  if (options.load == "running") {
    code = LoadFromMarnIntoKestiHistAdmin();
    loaded = "loaded from the running historian";
  } else if (options.load == "config") {
    code = LoadFromConfigIntoKestiHistAdmin();
    loaded = "loaded from the configuration files";
  }
  if (code != 0) {
    (void)DetachFromKestiHistAdminSharedMemory();
    FailWithCode(code, "cannot load the region");
  }
  if (options.load == "running" || options.load == "config") {
    // Served all the same: what did load is better than an empty region.
    for (const std::string& line : RepositoriesNotLoaded(options.load == "running" ? 0 : 1)) {
      std::cerr << "histadmin: " << line << '\n';
    }
  }

  std::cout << "histadmin: serving a HistAdmin region of " << size << " bytes (" << loaded
            << "); stop with Ctrl-C or SIGTERM" << std::endl;
  // Under systemd (Type=notify) the unit is started from here on.
  if (!NotifyServiceManager("READY=1")) {
    std::cerr << "histadmin: cannot tell the service manager that the region is ready\n";
  }

  while (stop_requested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  (void)NotifyServiceManager("STOPPING=1");

  Check(DetachFromKestiHistAdminSharedMemory(), "cannot release the HistAdmin region");
  std::cout << "histadmin: HistAdmin region released" << std::endl;
}

}  // namespace

void AddServerCommands(CLI::App& app, RunState&) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* serve = app.add_subcommand(
      "serve", "Set up the HistAdmin region and keep it alive until SIGINT or SIGTERM");
  serve->add_option("--size", options->size, "Size of the region in bytes (suffixes k, M: 1M)")
      ->required()
      ->check(NotNegative())
      ->transform(CLI::AsSizeValue(false));
  serve
      ->add_option("--load", options->load,
                   "Fill the region from the running historian or "
                   "from the configuration files (none: leave it empty, the default)")
      ->check(CLI::IsMember({"running", "config", "none"}));
  serve->callback([options] { Serve(*options); });
}

}  // namespace kha::histadmin
