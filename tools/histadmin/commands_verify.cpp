// histadmin verify: every invariant of the region, checked through the
// exported interface; each violation printed, exit status 1 if any.
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "output.h"
#include "session.h"
#include "tools/verify/region_verifier.h"

namespace kha::histadmin {
namespace {

const char* RuleName(verify::Rule rule) {
  switch (rule) {
    case verify::Rule::kNotAttached:
      return "not-attached";
    case verify::Rule::kHeader:
      return "header";
    case verify::Rule::kUnreadableSlot:
      return "unreadable-slot";
    case verify::Rule::kRepositoryCount:
      return "repository-count";
    case verify::Rule::kFileSetCount:
      return "file-set-count";
    case verify::Rule::kSlotUsage:
      return "slot-usage";
    case verify::Rule::kIndex:
      return "index";
    case verify::Rule::kRepositoryName:
      return "repository-name";
    case verify::Rule::kRepositoryNumber:
      return "repository-number";
    case verify::Rule::kFreedRepository:
      return "freed-repository";
    case verify::Rule::kFreedFileSet:
      return "freed-file-set";
    case verify::Rule::kChain:
      return "chain";
    case verify::Rule::kSharedFileSet:
      return "shared-file-set";
    case verify::Rule::kOrphanFileSet:
      return "orphan-file-set";
  }
  return "unknown";
}

void Verify(bool json, RunState& state) {
  Attachment attachment;
  const std::vector<verify::Violation> violations = verify::VerifyRegion();
  state.exit_status = violations.empty() ? 0 : 1;
  if (json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& violation : violations) {
      list.push_back({{"rule", RuleName(violation.rule)}, {"message", violation.message}});
    }
    PrintJson({{"consistent", violations.empty()}, {"violations", std::move(list)}});
    return;
  }
  for (const auto& violation : violations) {
    std::cout << RuleName(violation.rule) << ": " << violation.message << '\n';
  }
  if (violations.empty()) {
    std::cout << "the region is consistent\n";
  } else {
    std::cout << violations.size() << (violations.size() == 1 ? " violation\n" : " violations\n");
  }
}

}  // namespace

void AddVerifyCommands(CLI::App& app, RunState& state) {
  auto json = std::make_shared<bool>(false);
  CLI::App* verify = app.add_subcommand(
      "verify", "Check every invariant of the region; exit status 1 when one is broken");
  AddJsonFlag(verify, *json);
  verify->callback([json, &state] { Verify(*json, state); });
  verify->group("The region");
}

}  // namespace kha::histadmin
