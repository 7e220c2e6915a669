// The vkrsim CUPS backend, run as cupsd runs it (arguments, DEVICE_URI, the job
// on standard input or in a file, answers on descriptor 3) under GNU time.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "panel_jpeg.h"
#include "tests/support/fake_printer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string readText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

void putBigEndian(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

Bytes solidJpeg(uint8_t r, uint8_t g, uint8_t b) { return Jpeg(Picture(64, 40, [&](int, int) { return Rgb{r, g, b}; })); }

// A one-sided card on a colour ribbon: colour and overlay (or second colour) panels.
Bytes printCommand(const Bytes& colour, const Bytes& overlay, uint8_t overlayType = 0x10) {
  Bytes p{0x1B, 'P', 0, 0, 0x1B, 'R', 0, 1, 0, 0x10, 0, 0, 0x1B, 'F', 0, 1, 1, 0, 0x1B, 'C', 0xFF, 0,
          0x1B, 'O', 0, 0, 0, 0, 0, 0, 0};
  for (const auto& panel : {std::make_pair(uint8_t(0x00), &colour), std::make_pair(overlayType, &overlay)}) {
    p.insert(p.end(), {0x1B, 'T', panel.first, 0, 0, 0, 0, 0, 0, 0});
    putBigEndian(p, uint32_t(panel.second->size()));
  }
  p.resize(500, 0);
  p.insert(p.end(), colour.begin(), colour.end());
  p.insert(p.end(), overlay.begin(), overlay.end());
  return FakePrinter::Frame("$PTS", p);
}

// A JPEG file whose frame header claims width x height pixels.
Bytes claimingSize(Bytes jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = uint8_t(height >> 8), jpeg[i + 6] = uint8_t(height);
      jpeg[i + 7] = uint8_t(width >> 8), jpeg[i + 8] = uint8_t(width);
      break;
    }
  return jpeg;
}

struct BackendRun {
  int status = -1;
  std::string backChannel, errors, output;  // descriptor 3, standard error, standard output
  long peakKb = 0;
};

const std::vector<std::string> kJobArgs{"7", "user", "title", "1", ""};

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vkrsim-backend-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  // Runs the backend with these arguments, DEVICE_URI (unset when empty) and
  // a job on standard input made of pieces, each written its count of times
  // through a pipe (a job of any size without holding it here).
  BackendRun run(const std::vector<std::string>& args, const std::string& uri,
                 const std::vector<std::pair<Bytes, int>>& job = {}) {
    const std::string back = dir_ + "/fd3", err = dir_ + "/stderr", out = dir_ + "/stdout", peak = dir_ + "/peak";
    int input[2];
    if (pipe(input) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(input[0], 0);
      close(input[1]);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      dup2(open(back.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 3);
      uri.empty() ? unsetenv("DEVICE_URI") : setenv("DEVICE_URI", uri.c_str(), 1);
      // In a sanitizer build freed blocks are not held back long, so that
      // the peak is the backend's own.
      const char* asan = getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=8").c_str(), 1);
      std::vector<const char*> argv{"time", "-f", "%M", "-o", peak.c_str(), VKRSIM_BACKEND_BIN};
      for (const std::string& a : args) argv.push_back(a.c_str());
      argv.push_back(nullptr);
      execv("/usr/bin/time", const_cast<char**>(argv.data()));
      _exit(127);
    }
    close(input[0]);
    signal(SIGPIPE, SIG_IGN);
    for (const auto& [piece, count] : job)
      for (int n = 0; n < count; ++n)
        for (size_t at = 0; at < piece.size();) {
          const ssize_t put = write(input[1], piece.data() + at, piece.size() - at);
          if (put <= 0) break;
          at += size_t(put);
        }
    close(input[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(back), readText(err), readText(out),
            std::atol(readText(peak).c_str())};
  }

  std::string dir_;
};

}  // namespace

TEST_F(Backend, AnnouncesItselfWithoutArgumentsAndRefusesAWrongCount) {
  BackendRun r = run({}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "direct vkrsim \"VK4400 simulator\" \"VK4400 card printer simulator\"\n");
  r = run({"7", "user", "title"}, "vkrsim:" + dir_);
  EXPECT_EQ(r.status, 1);  // CUPS_BACKEND_FAILED
  EXPECT_NE(r.errors.find("Usage: "), std::string::npos) << r.errors;
}

TEST_F(Backend, UriWithoutAFolderItCanWriteStopsTheQueue) {
  for (const std::string uri : {"socket://127.0.0.1:9100", "vkrsim:", "vkrsim:relative/folder",
                                "vkrsim://otherhost/tmp/x", "vkrsim://localhost", "vkrsim:/proc/vkrsim-cannot-be-here"}) {
    BackendRun r = run(kJobArgs, uri);
    EXPECT_EQ(r.status, 4) << uri;  // CUPS_BACKEND_STOP
    const std::string why = uri.find("/proc") != std::string::npos
                                ? "ERROR: The simulator cannot write to /proc/vkrsim-cannot-be-here/job-7"
                                : "ERROR: The device URI must be vkrsim:/path/to/a/folder";
    EXPECT_NE(r.errors.find(why), std::string::npos) << uri << ": " << r.errors;
    EXPECT_TRUE(r.backChannel.empty()) << uri;
  }
}

TEST_F(Backend, AnswersThroughTheBackChannelAndKeepsTheCard) {
  const Bytes colour = solidJpeg(200, 30, 40), overlay = solidJpeg(0, 0, 0), pjs = FakePrinter::Frame("$PJS", {0x00}),
              pts = printCommand(colour, overlay);
  BackendRun r = run(kJobArgs, "vkrsim://localhost" + dir_ + "/cards", {{pjs, 1}, {pts, 1}});
  ASSERT_EQ(r.status, 0) << r.errors;
  // Two answers, in order: the job status, then the print command's ACK.
  EXPECT_EQ(r.backChannel.substr(0, 5), "\x1b$PJS");
  const size_t second = r.backChannel.find("\x1b$PTS");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(r.backChannel.substr(second + 5, 2), std::string("\x00\x06", 2)) << "the print command is acknowledged";
  const std::string folder = dir_ + "/cards/job-7";
  EXPECT_EQ(readText(folder + "/commands.bin"), text(pjs) + text(pts));
  EXPECT_EQ(readText(folder + "/card001_front_color.jpg"), text(colour));
  EXPECT_EQ(readText(folder + "/card001_front_overlay.jpg"), text(overlay));
  // A job's cards are for the backend's user alone, whatever its umask.
  struct stat info[3];
  stat(folder.c_str(), &info[0]), stat((folder + "/card001_front_preview.png").c_str(), &info[1]);
  stat((folder + "/commands.bin").c_str(), &info[2]);
  EXPECT_EQ(info[0].st_mode & 07777, 0700u);
  EXPECT_EQ(info[1].st_mode & 07777, 0600u);
  EXPECT_EQ(info[2].st_mode & 07777, 0600u);
  EXPECT_NE(r.errors.find("printed 1 card into " + folder), std::string::npos) << r.errors;
}

TEST_F(Backend, ReadsTheJobFromTheFileArgument) {
  const Bytes pts = printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0));
  std::ofstream(dir_ + "/job.bin", std::ios::binary) << text(pts);
  std::vector<std::string> args = kJobArgs;
  args.push_back(dir_ + "/job.bin");
  BackendRun r = run(args, "vkrsim://" + dir_ + "/from-file");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(readText(dir_ + "/from-file/job-7/commands.bin"), text(pts));
  args.back() = dir_ + "/missing.bin";
  r = run(args, "vkrsim:" + dir_ + "/from-file");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("ERROR: Unable to open print file"), std::string::npos) << r.errors;
}

// A job folder already there (someone else's links could wait in it) or a
// folder that belongs to another user is refused, and the job writes nothing.
TEST_F(Backend, RefusesAJobFolderItDidNotMakeAndAnotherUsersFolder) {
  const Bytes pts = printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0));
  ASSERT_EQ(mkdir((dir_ + "/planted").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/planted/job-7").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ + "/theirs").c_str(), 0777), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir_ + "/theirs").c_str(), 65534, 65534), 0);
  }
  const struct {
    std::string folder, why;
    bool needsRoot;
  } kCases[] = {
      {dir_ + "/planted", "ERROR: The simulator refuses " + dir_ + "/planted/job-7: it was there before the job", false},
      {dir_ + "/theirs", "ERROR: The simulator refuses " + dir_ + "/theirs: it belongs to another user", true},
  };
  for (const auto& c : kCases) {
    if (c.needsRoot && !root) continue;  // only root can give a folder away
    BackendRun r = run(kJobArgs, "vkrsim:" + c.folder, {{pts, 1}});
    EXPECT_EQ(r.status, 4) << c.folder;  // CUPS_BACKEND_STOP
    EXPECT_NE(r.errors.find(c.why), std::string::npos) << r.errors;
    EXPECT_TRUE(r.backChannel.empty()) << c.folder;
    struct stat info;
    EXPECT_NE(stat((c.folder + "/job-7/commands.bin").c_str(), &info), 0) << c.folder;
  }
}

// A stray byte in the block area's zero fill, a frame not closed by CR or two
// colour panels refuse the card; a panel claiming 65500 x 65500 pixels is a
// bad panel, never decoded nor drawn.
TEST_F(Backend, MalformedCardIsRefusedAndBadPanelNotDrawn) {
  Bytes stray = printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0)), noCr = stray;
  stray[9 + 490] = 0x55, noCr.back() = 0x0A;
  const struct {
    Bytes pts;
    bool acknowledged;
    std::string told, logged;
  } kCases[] = {
      {stray, false, "printed 0 cards", "$PTS refused: block area not zero-filled"},
      {noCr, false, "printed 0 cards", "$PTS refused: no CR after the panel data"},
      {printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0), 0x00), false, "printed 0 cards",
       "$PTS refused: panel blocks out of order"},
      {printCommand(claimingSize(solidJpeg(10, 200, 10), 65500, 65500), solidJpeg(0, 0, 0)), true, "printed 1 card",
       "bad panel card001_front_color.jpg: 65500 x 65500 pixels"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.logged);
    std::system(("rm -rf " + dir_ + "/job-7").c_str());  // each job makes its own folder
    BackendRun r = run(kJobArgs, "vkrsim:" + dir_, {{c.pts, 1}});
    ASSERT_EQ(r.status, 0) << r.errors;
    const size_t reply = r.backChannel.find("\x1b$PTS");
    ASSERT_NE(reply, std::string::npos);
    EXPECT_EQ(r.backChannel.substr(reply + 5, 2) == std::string("\x00\x06", 2), c.acknowledged);
    EXPECT_NE(r.errors.find("INFO: Simulated card printer " + c.told), std::string::npos) << r.errors;
    EXPECT_NE(readText(dir_ + "/job-7/printer.log").find(c.logged), std::string::npos);
    EXPECT_TRUE(readText(dir_ + "/job-7/card001_front_preview.png").empty());
    EXPECT_LT(r.peakKb, 120 * 1024) << "peak memory in kB";
  }
}

// 300 MB: 150 commands of 1 MiB, then a print command claiming 150 MiB, more
// than any card. It goes to disk as it arrives.
TEST_F(Backend, HugeJobGoesToDiskWithoutBeingHeldInMemory) {
  const Bytes mebibyte = FakePrinter::Frame("$XYZ", Bytes(1 << 20, 0x5A)), zeros(1 << 20, 0);
  const uint32_t huge = 150u << 20;
  Bytes head = {0x1B, '$', 'P', 'T', 'S'};
  putBigEndian(head, huge);
  BackendRun r = run(kJobArgs, "vkrsim:" + dir_, {{mebibyte, 150}, {head, 1}, {zeros, 150}, {{0x0D}, 1}});
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_GT(r.peakKb, 0);
  EXPECT_LT(r.peakKb, 120 * 1024) << "peak memory in kB";
  struct stat info;
  ASSERT_EQ(stat((dir_ + "/job-7/commands.bin").c_str(), &info), 0);
  EXPECT_EQ(uint64_t(info.st_size), 150 * mebibyte.size() + head.size() + (uint64_t(huge) + 1));
  // 151 answers; the last refuses the print command.
  const Bytes ack = {0x1B, '$', 'X', 'Y', 'Z', 0x00, 0x06, 0, 0, 0, 0, 0x0D};
  ASSERT_EQ(r.backChannel.size(), 151 * ack.size());
  EXPECT_EQ(r.backChannel.substr(150 * ack.size(), 7), std::string("\x1b$PTS\x00\x15", 7));
  EXPECT_NE(readText(dir_ + "/job-7/printer.log").find("$PTS refused: 157286400 parameter bytes"), std::string::npos);
  EXPECT_NE(r.errors.find("INFO: Simulated card printer printed 0 cards"), std::string::npos) << r.errors;
}
