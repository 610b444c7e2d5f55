// Runs picture cartridges (ours, and the public ones named test-roms/...) through nes-headless and
// compares the hash of a chosen frame with the one recorded in screenshots.tsv (each recorded only
// after the picture was looked at), with the buttons the row's options press. A mismatch leaves the
// screenshot in the temporary folder for a look.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/headless_launch.h"

namespace fs = std::filesystem;

namespace {

struct Picture {
  std::string cartridge;
  int frames = 0;
  std::string frame_hash;
  std::string description;
  std::vector<std::string> options;  // more arguments for nes-headless (--buttons F:MASK ...)
};

// Where a row's cartridge is: test-roms/PATH in the public collection, any other name among ours.
fs::path cartridge_path(const std::string& name) {
  const std::string shared = "test-roms/";
  if (name.rfind(shared, 0) == 0) return fs::path(SHARED_TEST_ROMS) / name.substr(shared.size());
  return fs::path(OWN_ROM_DIR) / name;
}

std::vector<Picture> read_pictures() {
  std::vector<Picture> pictures;
  std::ifstream in(SCREENSHOT_TABLE);
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream fields(line);
    Picture p;
    std::string frames;
    std::getline(fields, p.cartridge, '\t');
    std::getline(fields, frames, '\t');
    std::getline(fields, p.frame_hash, '\t');
    std::getline(fields, p.description, '\t');
    std::string options;
    std::getline(fields, options, '\t');
    std::stringstream words(options);
    for (std::string word; words >> word;) p.options.push_back(word);
    p.frames = std::stoi(frames);
    pictures.push_back(p);
  }
  return pictures;
}

// The frame hash of line `frame` of a frame log ("frame picture-hash audio-hash"), or "".
std::string frame_hash_from_log(const fs::path& log, int frame) {
  std::ifstream in(log);
  int number = 0;
  std::string picture, audio;
  while (in >> number >> picture >> audio)
    if (number == frame) return picture;
  return "";
}

TEST(Screenshots, PicturesMatchTheirRecordedHashes) {
  const std::vector<Picture> pictures = read_pictures();
  ASSERT_FALSE(pictures.empty());
  const fs::path temp = fs::temp_directory_path();
  for (const Picture& p : pictures) {
    SCOPED_TRACE(p.cartridge + ": " + p.description);
    const fs::path image = cartridge_path(p.cartridge);
    if (p.cartridge.rfind("test-roms/", 0) == 0 && !fs::exists(SHARED_TEST_ROMS)) {
      std::printf("skipped %s: no %s\n", p.cartridge.c_str(), SHARED_TEST_ROMS);
      continue;
    }
    ASSERT_TRUE(fs::exists(image)) << image << " is missing";
    const std::string stem =
        image.stem().string() + "_" + std::to_string(p.frames) + "_" + std::to_string(getpid());
    const fs::path log = temp / (stem + ".log");
    const fs::path png = temp / (stem + ".png");
    std::vector<std::string> args = {image.string(), "--frames", std::to_string(p.frames), "--frame-log",
                                     log.string(), "--screenshot", png.string()};
    args.insert(args.end(), p.options.begin(), p.options.end());
    const headless::Run run = headless::run(args);
    ASSERT_EQ(run.exit_code, 0) << run.describe();
    const std::string hash = frame_hash_from_log(log, p.frames);
    fs::remove(log);
    EXPECT_EQ(hash, p.frame_hash) << "frame " << p.frames << " differs; its picture: " << png;
    if (hash == p.frame_hash) fs::remove(png);
  }
}

}  // namespace
