// histadmin serve: the server side. Sets the region up, optionally fills
// it, and keeps it alive (the region lives only while some process holds
// it) until SIGINT or SIGTERM.
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "commands.h"
#include "failure.h"
#include "kestihistadmin.h"
#include "load_report.h"
#include "region_config_directory.h"
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

// A region that outlived its server: a client held it while no `serve`
// ran (the service was stopped, restarted or died). It is attached as it
// is, with its table and every change not yet saved; nothing is set up or
// loaded. Its size, or nothing when no region runs.
std::optional<uint32_t> AdoptUnservedRegion() {
  if (AttachToKestiHistAdminSharedMemory() != 0) return std::nullopt;
  uint32_t size = 0;
  (void)GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr);
  return size;
}

std::string AdoptedText(uint32_t size, uint32_t asked) {
  std::string text = "adopted as it was: its table and unsaved changes kept, nothing loaded";
  if (size != asked) {
    text += "; --size " + std::to_string(asked) + " is for a new region only";
  }
  return text;
}

void SetUpRegion(uint32_t size) {
  if (const int32_t setup = SetupAndAttachToKestiHistAdminSharedMemory(size); setup != 0) {
    const int os_error = LastOsError();  // before the report below makes calls of its own
    ReportRegionObstacles(size);
    FailWithCode(setup, "cannot set up the HistAdmin region", os_error);
  }
}

// config.dat in the directory that the environment names, when it does
// not exist yet: a first start, before an administrator has put a
// configuration there. Empty when it exists, or when no directory is named
// (the libraries then look in a default of their own, and the load says
// what it finds).
std::string MissingConfigFile() {
  const std::string directory = NamedConfigDirectory();
  if (directory.empty()) return "";
  const std::filesystem::path file = std::filesystem::path(directory) / "config.dat";
  std::error_code error;
  const auto status = std::filesystem::symlink_status(file, error);
  if (status.type() != std::filesystem::file_type::not_found) return "";
  return file.string();
}

// A region with no configuration yet is served empty; it records the
// directory, so that a save writes the files there.
std::string ServeWithoutConfiguration(const std::string& missing) {
  RecordConfigDirectory(NamedConfigDirectory());
  std::cerr << "histadmin: no configuration yet: " << missing
            << " does not exist, so the region is served empty; put config.dat and tune.dat "
               "there and run `histadmin load config`, or add repositories and `histadmin save`\n";
  return "empty: no config.dat yet";
}

// Fills the new region as --load says; what the announcement says of it.
std::string FillRegion(const std::string& load) {
  std::string loaded = "empty";
  int32_t code = 0;
  if (load == "config") {
    if (const std::string missing = MissingConfigFile(); !missing.empty()) {
      return ServeWithoutConfiguration(missing);
    }
  }
  if (load == "running") {
    code = LoadFromMarnIntoKestiHistAdmin();
    loaded = "loaded from the running historian";
  } else if (load == "config") {
    code = LoadFromConfigIntoKestiHistAdmin();
    loaded = "loaded from the configuration files";
  }
  if (code != 0) {
    const int os_error = LastOsError();
    (void)DetachFromKestiHistAdminSharedMemory();
    FailWithCode(code, "cannot load the region", os_error, kExitNotLoaded);
  }
  if (load == "running" || load == "config") {
    // Served all the same: what did load is better than an empty region.
    for (const std::string& line : RepositoriesNotLoaded(load == "running" ? 0 : 1)) {
      std::cerr << "histadmin: " << line << '\n';
    }
  }
  return loaded;
}

// The end of the announcement: a service is stopped through its manager,
// whose stop is a SIGTERM.
std::string HowToStop() {
  if (UnderServiceManager()) {
    return "stop it through its service manager (systemctl stop kestihistadmin, "
           "for the packaged service)";
  }
  return "stop with Ctrl-C or SIGTERM";
}

void Serve(const ServeOptions& options) {
  if (options.size > UINT32_MAX) FailUsage("--size: at most 4294967295 bytes");
  const auto size = static_cast<uint32_t>(options.size);

  // One server at a time, or two started together would both find no
  // region below and the second set-up would empty what the first loaded.
  ServerClaim claim;
  if (!claim.held()) Fail(claim.refusal());

  // Installed before the region is held: a signal from now on ends the
  // wait below, and the region is always released by a detach.
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  // A set-up over a running region would empty it under its users: a
  // region without a server is served as it is.
  std::string served;
  uint32_t served_size = size;
  if (const std::optional<uint32_t> adopted = AdoptUnservedRegion()) {
    served_size = *adopted;
    served = AdoptedText(*adopted, size);
  } else {
    SetUpRegion(size);
    served = FillRegion(options.load);
  }

  std::cout << "histadmin: serving a HistAdmin region of " << served_size << " bytes (" << served
            << "); " << HowToStop() << std::endl;
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
      "serve",
      "Set up the HistAdmin region, or adopt one that no serve holds (its table kept), and keep "
      "it alive until SIGINT or SIGTERM");
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
