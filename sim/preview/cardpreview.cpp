// cardpreview: draw what the printer would print on one card side from the
// side's panel files, as saved by the simulator.
//
//   cardpreview [--back] [--colour FILE.jpg] [--black FILE.jpg] [--overlay FILE.jpg] OUT.png
//
// The picture shows the side as a person holds the card: the front upright,
// with --back the back as it shows after turning the card over its long edge.
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/preview/preview.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "Usage: cardpreview [--back] [--colour FILE.jpg] [--black FILE.jpg] [--overlay FILE.jpg] OUT.png\n"
               "Writes the card side the panels make: the colour panel, the black panel\n"
               "printed over it, and the area the overlay leaves uncoated hatched, seen\n"
               "as a person holds the card (--back: the back, the card turned over its\n"
               "long edge).\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string colour, black, overlay, output;
  cardpreview::SidePanels panels;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--back") {
      panels.side = cardpreview::CardSide::kBack;
      continue;
    }
    std::string* target = nullptr;
    if (arg == "--colour" || arg == "--color") target = &colour;
    else if (arg == "--black") target = &black;
    else if (arg == "--overlay") target = &overlay;
    if (target) {
      if (++i >= argc) return usage();
      *target = argv[i];
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else if (output.empty()) {
      output = arg;
    } else {
      return usage();
    }
  }
  if (output.empty() || (colour.empty() && black.empty() && overlay.empty())) return usage();

  std::string error;
  const std::pair<const std::string*, std::vector<uint8_t>*> files[] = {
      {&colour, &panels.colour}, {&black, &panels.black}, {&overlay, &panels.overlay}};
  for (const auto& file : files) {
    if (!file.first->empty() && !cardpreview::ReadFileBytes(*file.first, *file.second, error)) {
      std::fprintf(stderr, "cardpreview: %s\n", error.c_str());
      return 1;
    }
  }
  if (!cardpreview::WriteCardPreview(panels, output, error)) {
    std::fprintf(stderr, "cardpreview: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", output.c_str());
  return 0;
}
