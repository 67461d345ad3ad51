#include "cli/image_steps.h"

#include <string_view>
#include <vector>

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "image/image_file.h"

namespace quelt::cli {
namespace {

// The messages of the load in progress, held until the load's own message has been chosen, so
// the same words are not printed twice.
std::vector<std::string> g_pending;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return text;
}

}  // namespace

void RouteImageMessages() {
  SetImageMessageSink([](std::string_view message) { g_pending.emplace_back(message); });
}

int LoadImage(const std::string& path, const Console& console, LoadOutcome* outcome_out) {
  g_pending.clear();
  LoadOutcome outcome = LoadImageForDisplay(path, kAppTitle);
  std::string_view shown;
  switch (outcome.kind) {
    case LoadOutcome::Loaded:
      break;
    case LoadOutcome::ReadFailed:
    case LoadOutcome::BadMagic:
      shown = outcome.box.text;
      break;
    case LoadOutcome::Empty:
      shown = outcome.status;
      break;
  }
  for (const std::string& message : g_pending) {
    if (Trimmed(message) != Trimmed(shown)) console.Error(path, message);
  }
  g_pending.clear();
  if (outcome_out) *outcome_out = outcome;
  if (outcome.kind == LoadOutcome::Loaded) return kExitDone;
  if (outcome.show_box) {
    console.Error(outcome.box.caption, path + ": " + outcome.box.text);
  } else {
    console.Error("", path + ": " + outcome.status);
  }
  return kExitImageRefused;
}

}  // namespace quelt::cli
