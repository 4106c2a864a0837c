// histadmin serve: the server side. Sets the region up, optionally fills
// it, and keeps it alive (the region lives only while some process holds
// it) until SIGINT or SIGTERM. histadmin wait: for scripts, until a
// region is there and its server's load is done.
#include <atomic>
#include <charconv>
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
#include "journal_record.h"
#include "kestihistadmin.h"
#include "load_report.h"
#include "output.h"
#include "region_config_directory.h"
#include "region_obstacles.h"
#include "serve_pause.h"
#include "server_claim.h"
#include "server_setup_gate.h"
#include "service_notify.h"
#include "session.h"
#include "settings.h"

namespace kha::histadmin {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void RequestStop(int) { stop_requested = 1; }

struct ServeOptions {
  uint32_t size = 0;
  std::string load = "none";
};

// "BYTES", "BYTESk" or "BYTESM" (k and K count 1024, M 1048576), from the
// header's and tuning block's 692 bytes up to 4 GiB - 1.
std::string ParseRegionSize(const std::string& text, uint32_t& size) {
  const std::string expected =
      "expected a number of bytes, with k (1024) or M (1048576) after it "
      "if you like (e.g. 1M), got '" +
      text + "'";
  uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error == std::errc::result_out_of_range) return "at most 4294967295 bytes, got " + text;
  if (error != std::errc() || end == text.data()) return expected;
  const std::string unit(end, text.data() + text.size());
  uint64_t scale = 1;
  if (unit == "k" || unit == "K") {
    scale = 1024;
  } else if (unit == "M") {
    scale = 1024 * 1024;
  } else if (!unit.empty()) {
    return expected;
  }
  if (number > UINT32_MAX / scale) return "at most 4294967295 bytes, got " + text;
  if (number * scale < KHA_FILESET_TABLE_OFFSET) {
    return "a region needs at least " + std::to_string(KHA_FILESET_TABLE_OFFSET) +
           " bytes (its header and tuning block), got " + text;
  }
  size = static_cast<uint32_t>(number * scale);
  return {};
}

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

// Operations that changed the region so far, as the journal counts them.
uint32_t ChangesSoFar() { return RegionJournalRecord().changes; }

// Whether anything but this server's own set-up changed the region since
// `changes_before_set_up` was counted. Only a program that ignores the
// set-up gate (not histadmin) can have: its change is kept, never loaded
// over.
bool ChangedByAnotherProcess(uint32_t changes_before_set_up) {
  uint32_t size = 0;
  uint16_t repos_high_water = 0, repos = 0, fs_high_water = 0, file_sets = 0;
  if (GetKestiHistAdminHeader(&size, &repos_high_water, &repos, &fs_high_water, &file_sets) != 0) {
    return true;
  }
  const bool tables_empty =
      repos_high_water == 0 && repos == 0 && fs_high_water == 0 && file_sets == 0;
  return !tables_empty || ChangesSoFar() != changes_before_set_up + 1;
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

// Runs serve's load (`source` "running" or "config") and returns what the
// region then holds, in words. Called under the hold that serve takes
// straight after its set-up. A load that fails ends serve with
// kExitNotLoaded, which its service does not retry.
std::string LoadTheRegion(const std::string& source) {
  const bool running = source == "running";
  if (!running) {
    if (const std::string missing = MissingConfigFile(); !missing.empty()) {
      return ServeWithoutConfiguration(missing);
    }
  }
  const int32_t code =
      running ? LoadFromMarnIntoKestiHistAdmin() : LoadFromConfigIntoKestiHistAdmin();
  if (code != 0) {
    const int os_error = LastOsError();
    UnlockHistAdminMutex();
    (void)DetachFromKestiHistAdminSharedMemory();
    FailWithCode(code, "cannot load the region", os_error, kExitNotLoaded);
  }
  // Served all the same: what did load is better than an empty region.
  for (const std::string& line : RepositoriesNotLoaded(running ? 0 : 1)) {
    std::cerr << "histadmin: " << line << '\n';
  }
  return running ? "loaded from the running historian" : "loaded from the configuration files";
}

// The set-up is done and the gate still closed: takes the mutex, loads
// unless another program got in first, and opens the gate before letting
// go of the mutex. Returns what the region holds, in words.
std::string LoadUnderOneHold(const std::string& source, uint32_t changes_before_set_up,
                             SetUpGate& gate) {
  RegionLock lock;
  std::string held = "empty";
  if (source != "none") {
    if (ChangedByAnotherProcess(changes_before_set_up)) {
      std::cerr << "histadmin: another program changed the region between its set-up and this "
                   "server's load: the region is served as that program left it, not loaded\n";
      held = "not loaded";
    } else {
      held = LoadTheRegion(source);
    }
  }
  gate.Open();
  return held;
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

void WaitForStopSignal() {
  while (stop_requested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void Serve(const ServeOptions& options) {
  // One server at a time, or two started together would both find no
  // region below and the second set-up would empty what the first loaded.
  ServerClaim claim;
  if (!claim.held()) Fail(claim.refusal());

  // Installed before the region is held: a signal from now on ends the
  // wait below, and the region is always released by a detach.
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  // A set-up over a running region would empty it under its users: a
  // region without a server (a client kept it through a stop, restart or
  // crash of its server) is served as it is.
  std::string held;
  uint32_t served_size = options.size;
  if (const std::optional<uint32_t> adopted = AdoptUnservedRegion()) {
    served_size = *adopted;
    held = AdoptedText(*adopted, options.size);
  } else {
    SetUpGate gate;
    if (!gate.held()) Fail(gate.refusal());
    const uint32_t changes_before_set_up = ChangesSoFar();
    SetUpRegion(options.size);
    PauseBetweenSetUpAndLoad();
    held = LoadUnderOneHold(options.load, changes_before_set_up, gate);
  }

  std::cout << "histadmin: serving a HistAdmin region of " << served_size << " bytes (" << held
            << "); " << HowToStop() << std::endl;
  // Under systemd (Type=notify) the unit is started from here on.
  if (!NotifyServiceManager("READY=1")) {
    std::cerr << "histadmin: cannot tell the service manager that the region is ready\n";
  }
  WaitForStopSignal();
  (void)NotifyServiceManager("STOPPING=1");

  Check(DetachFromKestiHistAdminSharedMemory(), "cannot release the HistAdmin region");
  std::cout << "histadmin: HistAdmin region released" << std::endl;
}

// Attached to a region whose server's load is done.
bool RegionIsReady(int32_t& last_code, int& last_os_error) {
  last_code = AttachToKestiHistAdminSharedMemory();
  if (last_code != 0) {
    last_os_error = LastOsError();
    return false;
  }
  const bool ready = !ServerIsSettingUp();
  (void)DetachFromKestiHistAdminSharedMemory();
  return ready;
}

void Wait(std::optional<float> timeout) {
  using Clock = std::chrono::steady_clock;
  // Beyond a few decades a time-out is as good as none (and would not fit
  // the clock's range).
  constexpr float kForever = 1e9f;
  const auto deadline = timeout && *timeout < kForever
                            ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(*timeout))
                            : Clock::time_point::max();
  int32_t code = 0;
  int os_error = 0;
  while (!RegionIsReady(code, os_error)) {
    const auto now = Clock::now();
    if (now >= deadline) {
      const std::string waited = "no HistAdmin region was ready within " + FloatText(*timeout) +
                                 (*timeout == 1.0f ? " second" : " seconds");
      if (code == 0 || IsNoRegion(code, os_error)) Fail(waited);
      ReportRegionObstacles();
      FailWithCode(code, waited + "; the last attach failed", os_error);
    }
    std::this_thread::sleep_for(
        std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(50)));
  }
  std::cout << "histadmin: the HistAdmin region is ready\n";
}

}  // namespace

void AddServerCommands(CLI::App& app, RunState&) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* serve = app.add_subcommand(
      "serve",
      "Set up the HistAdmin region, or adopt one that no serve holds (its table kept), and keep "
      "it alive until SIGINT or SIGTERM");
  serve
      ->add_option_function<std::string>(
          "--size",
          [options](const std::string& text) {
            if (const std::string error = ParseRegionSize(text, options->size); !error.empty()) {
              throw CLI::ValidationError("--size", error);
            }
          },
          "Size of the region in bytes, at least 692; k and M count 1024 and 1048576 (1M)")
      ->required()
      ->type_name("BYTES");
  serve
      ->add_option("--load", options->load,
                   "Fill the region from the running historian or "
                   "from the configuration files (none: leave it empty, the default)")
      ->check(CLI::IsMember({"running", "config", "none"}));
  serve->callback([options] { Serve(*options); });

  auto timeout = std::make_shared<std::optional<float>>();
  CLI::App* wait = app.add_subcommand(
      "wait", "Wait until a region is there and its server has loaded it (for scripts)");
  wait->add_option("--timeout", *timeout,
                   "Give up after SECONDS (fractions allowed) with exit status 1; "
                   "without it, wait for good")
      ->check(FiniteNotNegative())
      ->type_name("SECONDS");
  wait->callback([timeout] { Wait(*timeout); });

  serve->group("The server");
  wait->group("The server");
}

}  // namespace kha::histadmin
