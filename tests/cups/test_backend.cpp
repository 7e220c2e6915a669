// The vkrsim CUPS backend, run as cupsd runs it: arguments, DEVICE_URI,
// the job on standard input or in a file, answers on descriptor 3.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A small solid JPEG file.
Bytes solidJpeg(uint8_t r, uint8_t g, uint8_t b) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = 64;
  info.image_height = 40;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  Bytes row;
  for (int x = 0; x < 64; ++x) row.insert(row.end(), {r, g, b});
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes bytes(out, out + size);
  free(out);
  return bytes;
}

void putBigEndian(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

Bytes frame(const std::string& code, const Bytes& params) {
  Bytes out;
  out.push_back(0x1B);
  for (char c : code) out.push_back(uint8_t(c));
  putBigEndian(out, uint32_t(params.size()));
  out.insert(out.end(), params.begin(), params.end());
  out.push_back(0x0D);
  return out;
}

// A one-sided card on a colour ribbon: colour and overlay panels.
Bytes printCommand(const Bytes& colour, const Bytes& overlay) {
  Bytes p{0x1B, 'P', 0, 0, 0x1B, 'R', 0, 1, 0, 0x10, 0, 0, 0x1B, 'F', 0, 1, 1, 0, 0x1B, 'C', 0xFF, 0,
          0x1B, 'O', 0, 0, 0, 0, 0, 0, 0};
  for (const auto& panel : {std::make_pair(uint8_t(0x00), &colour), std::make_pair(uint8_t(0x10), &overlay)}) {
    p.insert(p.end(), {0x1B, 'T', panel.first, 0, 0, 0, 0, 0, 0, 0});
    putBigEndian(p, uint32_t(panel.second->size()));
  }
  p.resize(500, 0);
  p.insert(p.end(), colour.begin(), colour.end());
  p.insert(p.end(), overlay.begin(), overlay.end());
  return frame("$PTS", p);
}

struct BackendRun {
  int status = -1;
  std::string backChannel;  // what the backend wrote on descriptor 3
  std::string errors;       // its standard error
  std::string output;       // its standard output
};

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vkrsim-backend-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  // Runs the backend with these arguments after argv[0], DEVICE_URI (unset
  // when empty) and this job on standard input.
  BackendRun run(const std::vector<std::string>& args, const std::string& uri, const Bytes& job = {}) {
    const std::string in = dir_ + "/stdin", back = dir_ + "/fd3", err = dir_ + "/stderr", out = dir_ + "/stdout";
    writeBytes(in, job);
    const pid_t pid = fork();
    if (pid == 0) {
      const int fdIn = open(in.c_str(), O_RDONLY);
      const int fdBack = open(back.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fdIn, 0);
      dup2(fdOut, 1);
      dup2(fdErr, 2);
      dup2(fdBack, 3);
      if (uri.empty())
        unsetenv("DEVICE_URI");
      else
        setenv("DEVICE_URI", uri.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(uri.empty() ? "vkrsim" : uri.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(VKRSIM_BACKEND_BIN, argv.data());
      _exit(127);
    }
    BackendRun result = waitForBackend(pid, back, err);
    result.output = readText(out);
    return result;
  }

  // Waits for the backend and reads what it left on its back channel and
  // standard error.
  BackendRun waitForBackend(pid_t pid, const std::string& back, const std::string& err) {
    BackendRun result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.backChannel = readText(back);
    result.errors = readText(err);
    return result;
  }

  // Runs the backend under GNU time, feeding it the job through a pipe in
  // pieces (a job of any size without holding it here); *peakKb is the
  // backend's peak resident memory.
  BackendRun runMeasured(const std::string& uri, const std::vector<Bytes>& pieces,
                         const std::vector<int>& repeats, long* peakKb) {
    const std::string back = dir_ + "/fd3", err = dir_ + "/stderr", peak = dir_ + "/peak";
    int input[2];
    if (pipe(input) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      close(input[1]);
      dup2(input[0], 0);
      dup2(open(back.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 3);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      setenv("DEVICE_URI", uri.c_str(), 1);
      // In a sanitizer build, freed blocks are not held back for long, so
      // that the peak is the backend's own.
      const char* asan = getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=8").c_str(), 1);
      execl("/usr/bin/time", "time", "-f", "%M", "-o", peak.c_str(), VKRSIM_BACKEND_BIN, "7", "user",
            "title", "1", "", (char*)nullptr);
      _exit(127);
    }
    close(input[0]);
    for (size_t i = 0; i < pieces.size(); ++i)
      for (int n = 0; n < repeats[i]; ++n)
        for (size_t at = 0; at < pieces[i].size();) {
          const ssize_t put = write(input[1], pieces[i].data() + at, pieces[i].size() - at);
          if (put <= 0) break;
          at += size_t(put);
        }
    close(input[1]);
    BackendRun result = waitForBackend(pid, back, err);
    *peakKb = std::atol(readText(peak).c_str());
    return result;
  }

  std::string dir_;
};

// A JPEG file whose header claims width x height pixels (its data is a
// small picture's): the frame header's size fields are rewritten.
Bytes claimingSize(Bytes jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = uint8_t(height >> 8), jpeg[i + 6] = uint8_t(height);
      jpeg[i + 7] = uint8_t(width >> 8), jpeg[i + 8] = uint8_t(width);
      break;
    }
  return jpeg;
}

mode_t modeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

const std::vector<std::string> kJobArgs{"7", "user", "title", "1", ""};

}  // namespace

TEST_F(Backend, AnnouncesItselfWhenRunWithoutArguments) {
  BackendRun r = run({}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "direct vkrsim \"VK4400 simulator\" \"VK4400 card printer simulator\"\n");
}

TEST_F(Backend, WrongArgumentCountFailsWithUsage) {
  BackendRun r = run({"7", "user", "title"}, "vkrsim:" + dir_);
  EXPECT_EQ(r.status, 1);  // CUPS_BACKEND_FAILED
  EXPECT_NE(r.errors.find("Usage: "), std::string::npos) << r.errors;
}

TEST_F(Backend, UriWithoutAnAbsoluteFolderStopsTheQueue) {
  for (const std::string uri : {"socket://127.0.0.1:9100", "vkrsim:", "vkrsim:relative/folder",
                                "vkrsim://otherhost/tmp/x", "vkrsim://localhost"}) {
    BackendRun r = run(kJobArgs, uri);
    EXPECT_EQ(r.status, 4) << uri;  // CUPS_BACKEND_STOP
    EXPECT_NE(r.errors.find("ERROR: The device URI must be vkrsim:/path/to/a/folder"), std::string::npos)
        << uri << ": " << r.errors;
    EXPECT_TRUE(r.backChannel.empty()) << uri;
  }
}

TEST_F(Backend, FolderItCannotMakeStopsTheQueue) {
  BackendRun r = run(kJobArgs, "vkrsim:/proc/vkrsim-cannot-be-here");
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.errors.find("ERROR: The simulator cannot write to /proc/vkrsim-cannot-be-here/job-7"),
            std::string::npos)
      << r.errors;
}

TEST_F(Backend, AnswersThroughTheBackChannelAndKeepsTheCard) {
  const Bytes colour = solidJpeg(200, 30, 40), overlay = solidJpeg(0, 0, 0);
  Bytes job = frame("$PJS", {0x00});
  const Bytes pts = printCommand(colour, overlay);
  job.insert(job.end(), pts.begin(), pts.end());

  BackendRun r = run(kJobArgs, "vkrsim://localhost" + dir_ + "/cards", job);
  ASSERT_EQ(r.status, 0) << r.errors;
  // Two answers, in order: the job status, then the print command's ACK.
  ASSERT_GE(r.backChannel.size(), 2u * 11);
  EXPECT_EQ(r.backChannel.substr(0, 5), "\x1b$PJS");
  const size_t second = r.backChannel.find("\x1b$PTS");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(r.backChannel.substr(second + 5, 2), std::string("\x00\x06", 2)) << "the print command is acknowledged";

  const std::string folder = dir_ + "/cards/job-7";
  EXPECT_EQ(readText(folder + "/commands.bin"), std::string(job.begin(), job.end()));
  EXPECT_NE(readText(folder + "/printer.log").find("$PTS"), std::string::npos);
  EXPECT_EQ(readText(folder + "/card001_front_color.jpg"), std::string(colour.begin(), colour.end()));
  EXPECT_EQ(readText(folder + "/card001_front_overlay.jpg"), std::string(overlay.begin(), overlay.end()));
  EXPECT_EQ(readText(folder + "/card001_front_preview.png").substr(1, 3), "PNG");
  // cupsd gives backends umask 077; what the simulator keeps is for people.
  EXPECT_EQ(modeOf(folder), 0755u);
  EXPECT_EQ(modeOf(folder + "/card001_front_preview.png"), 0644u);
  EXPECT_NE(r.errors.find("INFO: Simulated card printer printed 1 card into " + folder), std::string::npos)
      << r.errors;
}

TEST_F(Backend, ReadsTheJobFromTheFileArgument) {
  const Bytes pts = printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0));
  writeBytes(dir_ + "/job.bin", pts);
  std::vector<std::string> args = kJobArgs;
  args.push_back(dir_ + "/job.bin");
  BackendRun r = run(args, "vkrsim://" + dir_ + "/from-file");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(readText(dir_ + "/from-file/job-7/commands.bin"), std::string(pts.begin(), pts.end()));
  EXPECT_EQ(readText(dir_ + "/from-file/job-7/card001_front_preview.png").substr(1, 3), "PNG");

  args.back() = dir_ + "/missing.bin";
  r = run(args, "vkrsim:" + dir_ + "/from-file");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("ERROR: Unable to open print file"), std::string::npos) << r.errors;
}

TEST_F(Backend, MalformedPrintCommandIsRefusedAndNotCounted) {
  Bytes pts = printCommand(solidJpeg(10, 200, 10), solidJpeg(0, 0, 0));
  pts[9 + 490] = 0x55;  // a stray byte in the zero fill of the block area
  BackendRun r = run(kJobArgs, "vkrsim:" + dir_, pts);
  ASSERT_EQ(r.status, 0) << r.errors;
  const size_t reply = r.backChannel.find("\x1b$PTS");
  ASSERT_NE(reply, std::string::npos);
  EXPECT_NE(r.backChannel.substr(reply + 5, 2), std::string("\x00\x06", 2)) << "not acknowledged";
  EXPECT_NE(r.errors.find("INFO: Simulated card printer printed 0 cards"), std::string::npos) << r.errors;
  EXPECT_TRUE(readText(dir_ + "/job-7/card001_front_preview.png").empty());
}

TEST_F(Backend, HostileJobsEndCleanlyWithoutHoldingThemInMemory) {
  // A panel claiming 65500 x 65500 pixels is a bad panel, never decoded.
  const Bytes pts = printCommand(claimingSize(solidJpeg(10, 200, 10), 65500, 65500), solidJpeg(0, 0, 0));
  long peakKb = 0;
  BackendRun r = runMeasured("vkrsim:" + dir_ + "/panel", {pts}, {1}, &peakKb);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string log = readText(dir_ + "/panel/job-7/printer.log");
  EXPECT_NE(log.find("bad panel card001_front_color.jpg: 65500 x 65500 pixels"), std::string::npos) << log;
  EXPECT_TRUE(readText(dir_ + "/panel/job-7/card001_front_preview.png").empty());
  EXPECT_GT(peakKb, 0);
  EXPECT_LT(peakKb, 120 * 1024) << "peak memory in kB";

  // A 300 MB job: 150 commands of 1 MiB, then a print command claiming
  // 150 MiB, more than any card. It goes to disk as it arrives.
  const Bytes mebibyte = frame("$XYZ", Bytes(1 << 20, 0x5A));
  const uint32_t huge = 150u << 20;
  Bytes head = {0x1B, '$', 'P', 'T', 'S'};
  putBigEndian(head, huge);
  const Bytes zeros(1 << 20, 0);
  Bytes tail = {0x0D};
  r = runMeasured("vkrsim:" + dir_ + "/big", {mebibyte, head, zeros, tail}, {150, 1, 150, 1}, &peakKb);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_LT(peakKb, 120 * 1024) << "peak memory in kB";
  struct stat info;
  ASSERT_EQ(stat((dir_ + "/big/job-7/commands.bin").c_str(), &info), 0);
  EXPECT_EQ(uint64_t(info.st_size), 150 * mebibyte.size() + head.size() + (uint64_t(huge) + 1));
  // 151 answers; the last refuses the print command.
  const Bytes ack = {0x1B, '$', 'X', 'Y', 'Z', 0x00, 0x06, 0, 0, 0, 0, 0x0D};
  ASSERT_EQ(r.backChannel.size(), 151 * ack.size());
  EXPECT_EQ(r.backChannel.substr(150 * ack.size(), 7), std::string("\x1b$PTS\x00\x15", 7));
  EXPECT_NE(readText(dir_ + "/big/job-7/printer.log").find("$PTS refused: 157286400 parameter bytes"),
            std::string::npos);
  EXPECT_NE(r.errors.find("INFO: Simulated card printer printed 0 cards"), std::string::npos) << r.errors;
}
