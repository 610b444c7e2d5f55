// The fuzz targets' entry functions: each takes arbitrary bytes, runs one piece of the program on
// them and returns 0, or aborts when it finds the program in a state it must never reach. libFuzzer
// drives them in the fuzz build (fuzz/libfuzzer_main.cpp); fuzz_replay feeds them the committed
// corpus in every build.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

int fuzz_loader(const uint8_t* data, size_t size);    // the image loader
int fuzz_machine(const uint8_t* data, size_t size);   // an image powered on and run for a while
int fuzz_snapshot(const uint8_t* data, size_t size);  // a save state loaded against a cartridge
int fuzz_options(const uint8_t* data, size_t size);   // the runner's command line

// A valid input of the snapshot target: cartridge `kind` (0 to fuzz_snapshot_cartridges() - 1) run a little, its state saved, with
// the byte that selects the cartridge in front. The seeds in fuzz/corpus/snapshot come from here.
std::vector<uint8_t> fuzz_snapshot_seed(unsigned kind, uint64_t cycles);
// The number of cartridges the snapshot target chooses from.
unsigned fuzz_snapshot_cartridges();

using FuzzEntry = int (*)(const uint8_t*, size_t);
// The entry of a target by name ("loader", "machine", "snapshot", "options"), or null.
FuzzEntry fuzz_entry(std::string_view name);
