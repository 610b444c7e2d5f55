#include "host/session.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "core/driver.h"
#include "core/machine.h"
#include "core/snapshot.h"
#include "host/audio_out.h"
#include "host/battery.h"
#include "host/keys.h"
#include "host/messages.h"
#include "host/rewind.h"
#include "host/save_files.h"

std::atomic<SessionState> session_state{SessionState::loading};
std::string session_start_error;
std::atomic<uint32_t> shown_frame[FRAME_WIDTH * FRAME_HEIGHT];

namespace {

using Clock = std::chrono::steady_clock;
// The console's frame rate: 1789773 CPU cycles per second, 29780.5 per frame.
const Clock::duration FRAME_TIME =
    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(29780.5 / 1789773.0));
constexpr uint64_t DEBUG_REPORT_FRAMES = 600;

struct Request {
  enum Kind { save, load, choose_slot, reset, pause, run_ahead, open, quit };
  explicit Request(Kind k, int n = 0, std::string p = {}) : kind(k), slot(n), path(std::move(p)) {}
  Kind kind;
  int slot;
  std::string path;
};

// Between the posting threads and the emulation thread.
std::mutex request_mutex;
std::condition_variable request_posted;
std::deque<Request> requests;
std::atomic<bool> rewinding{false};
std::atomic<bool> fast_forward{false};
std::atomic<bool> paused{false};

void post(Request r) {
  {
    std::lock_guard lock(request_mutex);
    requests.push_back(std::move(r));
  }
  request_posted.notify_all();
}

// The emulation thread's own.
struct Session {
  std::string image;
  int slot = 0;
  int run_ahead = 0;
  bool quitting = false;
  // Frames of real play, for the battery's one-second delay; fast-forward counts them by the clock,
  // so that a game writing its RAM all the time is not written to the disk dozens of times a second.
  uint64_t frames_played = 0;
  Clock::time_point last_counted{};
  uint64_t frames_run = 0;  // every frame played, for the debug report
  BatterySave battery{[](const std::string& m) { messages.post(m); }};
  std::string save_base;  // the path whose extension the saves replace (save_base_for)
  FileLock image_lock;  // held while a cartridge with a battery plays
  RewindRing ring;
  std::vector<uint8_t> ahead_state;  // the real state while run-ahead's frames run
  Clock::time_point next_rewind_frame{};
  Clock::time_point last_presented{};  // fast-forward shows a frame per screen refresh at most
  bool debug = false;
  double push_seconds = 0, ahead_seconds = 0;  // summed over a report's frames
};
Session s;

// While fast-forwarding, frames go by far faster than any screen shows them: one in each 1/120 s
// is copied for the window, not every one.
const Clock::duration FAST_FORWARD_PRESENT_TIME = std::chrono::milliseconds(8);

void present() {
  for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i)
    shown_frame[i].store(frame_buffer[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
}

// One frame nobody hears: no sound device, no pacing.
void run_silent_frame() {
  const SampleSink sink = audio_sink;
  const PaceHook hook = pace_hook;
  audio_sink = nullptr;
  pace_hook = nullptr;
  run_frame();
  audio_sink = sink;
  pace_hook = hook;
}

// While paused, the picture of the machine as it now stands (a state just loaded, a reset, another
// image): the frame it is about to play, run silently and taken back, so that resuming plays it again.
void show_next_frame_while_paused() {
  if (!paused.load(std::memory_order_relaxed)) return;  // the next frame shows it anyway
  const bool ram_changed = cartridge_ram_changed;
  snapshot_save(s.ahead_state);
  run_silent_frame();
  present();
  std::string error;
  if (!snapshot_load(s.ahead_state, error)) messages.post("Picture not shown: " + error);
  cartridge_ram_changed = ram_changed;
}

std::string slot_file() { return path_beside_image(s.save_base, ".st" + std::to_string(s.slot)); }

// Where this image's saves go (save_base_for): beside it, or in the per-user folder where its
// folder cannot be written or its saves were made there; said once, as the image opens.
void choose_save_folder() {
  std::string note;
  s.save_base = save_base_for(s.image, note);
  if (!note.empty()) messages.post(note);
}

// The battery file of the loaded cartridge, when it has a battery (and a board this program has:
// the RAM of a game that cannot run right is never written over the file).
// Another program playing the same image holds its lock: that one writes the battery file, and this
// one reads it but keeps its own changes to itself.
void open_battery() {
  s.battery.close();
  s.image_lock.release();
  if (!cartridge_has_battery()) return;
  const std::string path = path_beside_image(s.save_base, ".sav");
  // (Where the image cannot be locked at all, the battery file is this program's as before.)
  const bool own = s.image_lock.acquire(s.image) != FileLock::in_use;
  if (!own)
    messages.post(s.image + " is in use by another program, which keeps " + path +
                  "; this one's battery RAM is not saved");
  s.battery.open(path, own);
}

void save_state() {
  const std::vector<uint8_t> state = snapshot_save();
  std::string error;
  if (write_file_atomically(slot_file(), state.data(), state.size(), error))
    messages.post("State saved to slot " + std::to_string(s.slot));
  else
    messages.post("Slot " + std::to_string(s.slot) + " not saved: " + error);
}

void load_state() {
  const std::string path = slot_file();
  const std::string slot = "Slot " + std::to_string(s.slot);
  std::vector<uint8_t> data;
  std::string error;
  switch (read_file(path, SNAPSHOT_MAX_SIZE, false, data, error)) {
    case ReadResult::ok: break;
    case ReadResult::missing: messages.post(slot + " is empty: no " + path); return;
    case ReadResult::refused: messages.post(slot + " not loaded: " + error); return;
  }
  if (!snapshot_load(data, error)) {
    messages.post(slot + " not loaded: " + path + ": " + error);
    return;
  }
  cartridge_ram_changed = true;  // the battery file follows the loaded RAM
  audio_out_follow_stream();
  show_next_frame_while_paused();
  messages.post("State loaded from slot " + std::to_string(s.slot));
}

void open_image(const std::string& path) {
  s.battery.flush();  // the old game's RAM is on the disk before anything else happens
  std::string error;
  if (!machine_power_on(path.c_str(), error)) {
    messages.post("Not opened: " + error);
    return;
  }
  s.image = path;
  choose_save_folder();
  s.ring.clear();
  audio_out_follow_stream();
  open_battery();
  present();  // the old game's picture goes, also while paused
  show_next_frame_while_paused();
  messages.post("Opened " + path);
  for (const std::string& line : cartridge_warnings()) messages.post(line);
}

void carry_out(const Request& r) {
  switch (r.kind) {
    case Request::save: save_state(); break;
    case Request::load: load_state(); break;
    case Request::choose_slot:
      s.slot = r.slot;
      messages.post("State slot " + std::to_string(s.slot));
      break;
    case Request::reset:
      machine_reset();
      audio_out_follow_stream();
      show_next_frame_while_paused();
      messages.post("Reset");
      break;
    case Request::pause:
      paused.store(!paused.load(std::memory_order_relaxed), std::memory_order_relaxed);
      if (paused.load(std::memory_order_relaxed)) {
        audio_out_stop();  // it goes on with the next frame
        present();         // the last frame run (fast-forward shows only some)
      }
      messages.post(paused.load(std::memory_order_relaxed) ? "Paused" : "Resumed");
      break;
    case Request::run_ahead:
      s.run_ahead = (s.run_ahead + 1) % (MAX_RUN_AHEAD + 1);
      messages.post("Run-ahead: " + std::to_string(s.run_ahead) + " frame" + (s.run_ahead == 1 ? "" : "s"));
      break;
    case Request::open: open_image(r.path); break;
    case Request::quit: s.quitting = true; break;
  }
}

// Carries out what was posted; while paused, waits for more.
void handle_requests() {
  for (;;) {
    std::deque<Request> taken;
    {
      std::unique_lock lock(request_mutex);
      if (requests.empty() && paused.load(std::memory_order_relaxed) && !s.quitting)
        request_posted.wait(lock, [] { return !requests.empty(); });
      taken.swap(requests);
    }
    for (const Request& r : taken) carry_out(r);
    if (s.quitting || !paused.load(std::memory_order_relaxed)) return;
  }
}

// A frame of play: its start goes into the rewind ring, its picture (or, with run-ahead, the
// picture of the frame that many frames later) to the window. Fast-forward shows the frame itself,
// as often as a screen can show it.
void play_frame(bool fast) {
  const Clock::time_point start = Clock::now();
  s.ring.push();
  const Clock::time_point pushed = Clock::now();
  controllers_next_frame();  // turbo
  run_frame();
  const Clock::time_point now = Clock::now();
  if (!fast || now - s.last_counted >= FRAME_TIME) {
    ++s.frames_played;
    s.last_counted = now;
  }
  s.battery.frame_end(s.frames_played);
  if (fast) {
    if (now - s.last_presented >= FAST_FORWARD_PRESENT_TIME) {
      present();
      s.last_presented = now;
    }
  } else if (s.run_ahead == 0) {
    present();
  } else {
    const Clock::time_point ahead_start = Clock::now();
    const bool ram_changed = cartridge_ram_changed;
    snapshot_save(s.ahead_state);
    for (int i = 0; i < s.run_ahead; ++i) run_silent_frame();
    present();
    std::string error;
    if (!snapshot_load(s.ahead_state, error)) messages.post("Run-ahead failed: " + error);
    cartridge_ram_changed = ram_changed;
    s.ahead_seconds += std::chrono::duration<double>(Clock::now() - ahead_start).count();
  }
  s.push_seconds += std::chrono::duration<double>(pushed - start).count();
  if (s.debug && ++s.frames_run % DEBUG_REPORT_FRAMES == 0) {
    std::printf("nes: rewind ring %zu of %zu frames, %.1f MiB; %.1f us per frame to keep, %.1f us "
                "per frame for run-ahead %d\n",
                s.ring.size(), s.ring.capacity(), double(s.ring.bytes()) / (1 << 20),
                s.push_seconds / DEBUG_REPORT_FRAMES * 1e6, s.ahead_seconds / DEBUG_REPORT_FRAMES * 1e6,
                s.run_ahead);
    std::fflush(stdout);
    s.push_seconds = s.ahead_seconds = 0;
  }
}

// A frame backwards, at the console's frame rate and silent. The newest entry is the start of the
// frame on the screen: it goes, and the frame before is played again from its start for its picture.
void rewind_frame(bool first) {
  if (first) audio_out_stop();
  const Clock::time_point now = Clock::now();
  if (first || s.next_rewind_frame < now - FRAME_TIME) s.next_rewind_frame = now;
  if (s.ring.size() >= 2) {
    s.ring.drop_newest();
    std::string error;
    if (snapshot_load(s.ring.newest(), error)) {
      run_silent_frame();
      audio_out_follow_stream();
      cartridge_ram_changed = true;
      present();
    } else {
      messages.post("Rewind failed: " + error);
      s.ring.clear();
    }
  }
  s.next_rewind_frame += FRAME_TIME;
  std::this_thread::sleep_until(s.next_rewind_frame);
}

}  // namespace

void session_run(std::string image, int run_ahead) {
  s.debug = std::getenv("NES_DEBUG") != nullptr;
  s.run_ahead = run_ahead;
  std::string error;
  if (!machine_power_on(image.c_str(), error)) {
    session_start_error = error;
    session_state.store(SessionState::refused, std::memory_order_release);
    return;
  }
  s.image = image;
  choose_save_folder();
  open_battery();
  for (const std::string& line : cartridge_warnings()) messages.post(line);
  // The sound device is opened only for a cartridge that runs, and from here on it is this
  // thread's alone.
  const std::string sound = audio_out_open();
  if (s.debug) std::printf("nes: %s\n", sound.c_str());
  session_state.store(SessionState::running, std::memory_order_release);
  bool was_rewinding = false, was_fast = false;
  for (;;) {
    handle_requests();
    if (s.quitting) break;
    const bool rewind = rewinding.load(std::memory_order_relaxed);
    const bool fast = !rewind && fast_forward.load(std::memory_order_relaxed);
    if (fast != was_fast) {
      audio_out_set_fast_forward(fast);
      if (!fast) present();  // the last frame fast-forward ran, whether shown or not
    }
    if (rewind) rewind_frame(!was_rewinding);
    else play_frame(fast);
    was_rewinding = rewind;
    was_fast = fast;
  }
  s.battery.flush();
  audio_out_finish();
  session_state.store(SessionState::ended, std::memory_order_release);
}

void session_save_state() { post(Request(Request::save)); }
void session_load_state() { post(Request(Request::load)); }
void session_select_slot(int slot) { post(Request(Request::choose_slot, slot)); }
void session_reset() { post(Request(Request::reset)); }
void session_toggle_pause() { post(Request(Request::pause)); }
void session_cycle_run_ahead() { post(Request(Request::run_ahead)); }
void session_open_image(const std::string& path) { post(Request(Request::open, 0, path)); }
void session_quit() { post(Request(Request::quit)); }
void session_set_rewinding(bool held) { rewinding.store(held, std::memory_order_relaxed); }
void session_set_fast_forward(bool held) { fast_forward.store(held, std::memory_order_relaxed); }

bool session_paused() { return paused.load(std::memory_order_relaxed); }

std::string session_overlay_text() {
  std::string text = messages.current();
  if (text.empty() && session_paused()) text = "Paused";
  return text;
}
