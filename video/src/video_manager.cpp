// The video manager: chunk list and texts of the open video, transport over its window, the
// helper thread's position ticks and trackbar handling.
#include "video/video_manager.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "audio/buffer_descr.h"
#include "audio/endpoint.h"
#include "audio/sound_works_was.h"
#include "platform/waitable_timer.h"
#include "tracks/side_files.h"
#include "video/video_voice.h"

namespace vts {

namespace {
constexpr std::uint32_t kHelperQuit = plat::WM_USER + 1;
// Ends the helper's wait without a video: a window was made or playback started.
constexpr std::uint32_t kHelperWake = plat::WM_USER + 2;
constexpr std::int64_t kHelperTickNs = 50'000'000;
const char* const kHelperTimerName = "VideoManagerHelperThreadTimer";

// The path cut at its last '.' plus `ext`; the whole path when it has no '.'; empty when
// the '.' is its first character.
std::string SidePath(const std::string& media, const char* ext) {
  const std::size_t dot = media.rfind('.');
  const std::size_t slash = media.rfind('/');
  if (dot == 0) return {};
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return media + ext;
  return media.substr(0, dot) + ext;
}
}  // namespace

CVideoManager::CVideoManager(EngineStateBlock* state,
                             std::shared_ptr<audio::EndpointBackend> backend,
                             std::shared_ptr<IVideoWindowSystem> windows)
    : backend_(backend ? std::move(backend) : audio::DefaultBackend()),
      windows_(windows ? std::move(windows) : HeadlessVideoWindowSystem()),
      state_(state) {
  helper_ = std::thread([this] { HelperThread(); });
  // The helper publishes its id once its queue exists; the engine reports to it.
  while (helperThreadId_.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  engine_ = std::make_unique<CSoundWorksWAS>(state_, backend_);
  engine_->SetFormat(2, 44100, 16, 100);
  engine_->ownerThreadId = helperThreadId_.load();
  engine_->soundOutMessage = WM_SOUND_OUT;
  engine_->soundInMessage = WM_SOUND_IN;
  engine_->Start();
}

CVideoManager::~CVideoManager() {
  plat::PostThreadMessage(helperThreadId_.load(), kHelperQuit, 0, 0);
  if (helper_.joinable()) helper_.join();
  DetachWindow().reset();  // outside the lock: its jobs may be waiting for it
  engine_.reset();
}

void CVideoManager::SetWindowSystem(std::shared_ptr<IVideoWindowSystem> windows) {
  windows_ = windows ? std::move(windows) : HeadlessVideoWindowSystem();
}

void CVideoManager::SetOutputDevice(const std::u16string& id) {
  std::u16string old;
  {
    std::lock_guard lock(lock_);
    if (id == outputDevice_) return;
    old = outputDevice_;
    outputDevice_ = id;
  }
  // An open video's sound moves along, and so does the render stream opened for its play
  // (the sound server is called after the lock; this thread is the one that replaces the
  // window).
  if (window_) window_->SetOutputDevice(id);
  if (playing.load()) {
    engine_->StopPlayback(old);
    engine_->StartPlayback(id);
  }
}

std::u16string CVideoManager::OutputDevice() const {
  std::lock_guard lock(lock_);
  return outputDevice_;
}

void CVideoManager::Notify(std::uint32_t code) { PostNotification(notifyTarget, code, SenderId()); }

// ---- opening ----

bool CVideoManager::Open(const std::string& path, void* owner) {
  owner_ = owner;
  WindowRect rect;
  int videoX = 0, top = 0, width = 0;
  if (windows_->OwnerRect(owner, &rect)) {
    const int half = rect.Width() / 2;
    // The dialog moves right once; a later open finds it where it was put.
    int dialogX = (ownerMoved_ && rect.left == ownerMovedLeft_) ? rect.left : rect.left + half;
    width = rect.Width();
    const WindowRect screen = windows_->ScreenRect(owner);
    if (screen.Width() > 0) {
      // Both windows stay on the screen as far as it is wide enough.
      dialogX = std::min(dialogX, screen.right - width);
      dialogX = std::max(dialogX, screen.left + width);
    }
    if (dialogX != rect.left) windows_->MoveOwner(owner, dialogX, rect.top);
    ownerMoved_ = true;
    ownerMovedLeft_ = dialogX;
    videoX = dialogX - width;
    if (screen.Width() > 0) videoX = std::max(videoX, screen.left);
    top = rect.top;
  }
  auto fresh = std::make_unique<CVideoSiteWindow>(engine_.get(), state_, backend_);
  fresh->outputDeviceName = OutputDevice();
  std::unique_ptr<CVideoSiteWindow> old = DetachWindow();
  {
    std::lock_guard lock(lock_);
    durationMs_.store(0);
    mediaPath_ = path;
  }
  playing.store(0);
  paused.store(0);
  old.reset();  // outside the lock: its jobs may be waiting for it
  fresh->Create(*windows_, owner, videoX, top, width, 0, 0, helperThreadId_.load());
  CVideoSiteWindow* w = fresh.get();
  {
    std::lock_guard lock(lock_);
    window_ = std::move(fresh);
  }
  WakeHelper();
  w->OpenSourceFileName(path, [this, w] {
    bool current = false;
    {
      std::lock_guard lock(lock_);
      current = window_.get() == w;
    }
    if (current) OnMediaOpened();  // a replaced window's open reports nothing
  });
  return true;
}

void CVideoManager::OnMediaOpened() {
  CVideoSiteWindow* w = nullptr;
  std::string path;
  {
    std::lock_guard lock(lock_);
    w = window_.get();
    path = mediaPath_;
  }
  // The side files are read and the frame shown outside the lock (the window lives as long
  // as its own jobs, this one included); the result is taken only for the window still open.
  std::uint32_t duration = 0;
  std::vector<VideoChunk> chunks;
  bool listRead = false, textsRead = false;
  std::vector<std::u16string> texts;
  std::optional<std::uint32_t> seek;
  const bool opened = w && w->IsOpen();
  if (opened) {
    if (w->Frame()) w->Frame()->ShowAndRaise();
    duration = std::uint32_t(w->DurationUs() / 1'000'000) * 1000;
    std::vector<CifRecord> records;
    const SideFileStatus st = ReadCifFile(SidePath(path, ".cif"), records);
    listRead = st == SideFileStatus::Ok || st == SideFileStatus::Empty;
    if (listRead) {
      for (const CifRecord& r : records) chunks.push_back({r.startMs, r.lengthMs, 0, {}});
    } else {
      chunks.push_back({0, duration, 0, {}});
    }
    textsRead = ReadTxtFile(SidePath(path, ".txt"), texts) == SideFileStatus::Ok;
    if (textsRead) {
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i == chunks.size()) chunks.push_back({0, 0, 0, {}});
        chunks[i].text = texts[i];
      }
    }
  }
  {
    std::lock_guard lock(lock_);
    if (window_.get() != w) return;  // replaced meanwhile: its open reports nothing
    chunks_ = std::move(chunks);
    currentChunk_ = 0;
    if (!chunks_.empty() && chunks_[0].startMs != 0) seek = ChunkStartToSeek();  // the open showed 0
    // The open failed: no chunk, no window shown; the notices still tell the dialog.
    durationMs_.store(duration);
    if (listRead) chunkDataModified.store(0);
    textsLoaded.store(textsRead ? 1 : 0);
  }
  if (seek) SeekShowing(w, *seek);
  Notify(TRACK_NOTIFY_IDLE);
  Notify(TRACK_NOTIFY_LOADED);
}

bool CVideoManager::MediaOpened() const {
  std::lock_guard lock(lock_);
  return window_ && window_->IsOpen();
}

std::string CVideoManager::OpenError() const {
  std::lock_guard lock(lock_);
  return window_ ? window_->OpenError() : std::string();
}

std::unique_ptr<CVideoSiteWindow> CVideoManager::DetachWindow() {
  std::lock_guard use(windowUse_);  // the helper's calls into the window end first
  std::lock_guard lock(lock_);
  chunks_.clear();
  keptChunks_.clear();
  wholeFile_ = false;
  currentChunk_ = 0;
  return std::move(window_);
}

void CVideoManager::CloseWindow() {
  std::unique_ptr<CVideoSiteWindow> old = DetachWindow();
  if (playing.exchange(0)) {
    ++playGeneration_;
    engine_->StopPlayback(OutputDevice());
  }
  paused.store(0);
  old.reset();
}

std::string CVideoManager::MediaPath() const {
  std::lock_guard lock(lock_);
  return mediaPath_;
}

// ---- side files ----

bool CVideoManager::ReadChunkFile(const std::string& path) {
  std::lock_guard lock(lock_);
  chunks_.clear();
  std::vector<CifRecord> records;
  const SideFileStatus st = ReadCifFile(path, records);
  if (st != SideFileStatus::Ok && st != SideFileStatus::Empty) return false;
  currentChunk_ = 0;
  for (const CifRecord& r : records) chunks_.push_back({r.startMs, r.lengthMs, 0, {}});
  chunkDataModified.store(0);
  return true;
}

bool CVideoManager::ReadChunkTexts(const std::string& path) {
  std::vector<std::u16string> texts;
  if (ReadTxtFile(path, texts) != SideFileStatus::Ok) return false;
  std::lock_guard lock(lock_);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i == chunks_.size()) chunks_.push_back({0, 0, 0, {}});
    chunks_[i].text = texts[i];
  }
  return true;
}

bool CVideoManager::WriteChunkFile() {
  std::vector<std::uint8_t> body;
  std::string path;
  {
    std::lock_guard lock(lock_);
    path = SidePath(mediaPath_, ".cif");
    if (mediaPath_.empty() || path.empty()) return false;
    for (const VideoChunk& c : chunks_)
      for (std::uint32_t v : {c.startMs, c.lengthMs})
        for (int b = 0; b < 4; ++b) body.push_back(std::uint8_t(v >> (8 * b)));
  }
  if (!ReplaceFileContents(path, body)) return false;
  chunkDataModified.store(0);
  return true;
}

std::vector<std::uint8_t> CVideoManager::BuildChunkTexts() {
  std::vector<std::u16string> texts;
  {
    std::lock_guard lock(lock_);
    for (const VideoChunk& c : chunks_) texts.push_back(c.text);
  }
  return BuildTxtBody(texts);
}

// ---- chunk state ----

std::vector<VideoChunk> CVideoManager::Chunks() const {
  std::lock_guard lock(lock_);
  return chunks_;
}

int CVideoManager::ChunkCount() const {
  std::lock_guard lock(lock_);
  return int(chunks_.size());
}

int CVideoManager::CurrentChunk() const {
  std::lock_guard lock(lock_);
  return chunks_.empty() ? -1 : int(currentChunk_);
}

std::uint32_t CVideoManager::CurrentChunkLengthMs() const {
  std::lock_guard lock(lock_);
  return currentChunk_ < chunks_.size() ? chunks_[currentChunk_].lengthMs : 0;
}

std::uint32_t CVideoManager::PlayOffsetMs() const {
  std::lock_guard lock(lock_);
  return currentChunk_ < chunks_.size() ? chunks_[currentChunk_].offsetMs : 0;
}

std::u16string CVideoManager::CurrentChunkText() const {
  std::lock_guard lock(lock_);
  return currentChunk_ < chunks_.size() ? chunks_[currentChunk_].text : std::u16string();
}

void CVideoManager::SetCurrentChunkText(const std::u16string& text) {
  std::lock_guard lock(lock_);
  if (currentChunk_ >= chunks_.size()) return;
  chunks_[currentChunk_].text = text;
  textsLoaded.store(1);
  chunkDataModified.store(1);
}

// ---- transport ----

void CVideoManager::SetTrackbar(int pos) {
  std::lock_guard lock(lock_);
  if (window_ && window_->Frame()) window_->Frame()->SetTrackbarPos(pos);
}

int CVideoManager::TrackbarPos() {
  std::lock_guard lock(lock_);
  return window_ && window_->Frame() ? window_->Frame()->TrackbarPos() : 0;
}

std::optional<std::uint32_t> CVideoManager::ChunkStartToSeek() const {
  if (window_ && currentChunk_ < chunks_.size() && window_->IsOpen())
    return chunks_[currentChunk_].startMs;
  return std::nullopt;
}

void CVideoManager::SeekShowing(CVideoSiteWindow* w, std::uint32_t ms) {
  w->SeekMs(ms);
  // Halted, the picture shows the chunk's start too (running frames show themselves).
  if (w->halted.load() != 0) w->ShowFrameAt(ms);
}

void CVideoManager::StepChunk(int step) {
  CVideoSiteWindow* w = nullptr;
  std::optional<std::uint32_t> seek;
  {
    std::lock_guard lock(lock_);
    if (chunks_.empty()) return;
    if (step > 0 ? currentChunk_ + 1 >= chunks_.size() : currentChunk_ == 0) return;
    currentChunk_ = step > 0 ? currentChunk_ + 1 : currentChunk_ - 1;
    chunks_[currentChunk_].offsetMs = 0;
    seek = ChunkStartToSeek();
    w = window_.get();
  }
  // The seek reads the file and waits for a running decode: after the lock.
  if (seek) SeekShowing(w, *seek);
  SetTrackbar(0);
}

void CVideoManager::NextChunk() { StepChunk(1); }

void CVideoManager::PrevChunk() { StepChunk(-1); }

void CVideoManager::Stop() {
  if (playing.exchange(0)) ++playGeneration_;
  engine_->StopPlayback(OutputDevice());
  CVideoSiteWindow* w = nullptr;
  {
    std::lock_guard lock(lock_);
    w = window_.get();
  }
  if (w) {
    w->StopVoice();
    std::optional<std::uint32_t> seek;
    {
      std::lock_guard lock(lock_);
      w->halted.store(1);
      if (currentChunk_ < chunks_.size()) chunks_[currentChunk_].offsetMs = 0;
      seek = ChunkStartToSeek();
    }
    if (seek) SeekShowing(w, *seek);
    SetTrackbar(0);
  }
  // The time display shows the rewind: a stop while paused has no tick after it.
  Notify(TRACK_NOTIFY_REFRESH);
  Notify(TRACK_NOTIFY_PLAY_ENDED);
}

void CVideoManager::Start() {
  ++playGeneration_;
  playing.store(1);
  paused.store(0);
  engine_->StartPlayback(OutputDevice());
  SeekToSliderPosition();
  {
    std::lock_guard lock(lock_);
    if (window_) window_->halted.store(0);
  }
  WakeHelper();  // after the start's own notices
}

void CVideoManager::TogglePause() {
  const std::uint8_t now = paused.load() ? 0 : 1;
  paused.store(now);
  if (window_) window_->StopVoice();  // this thread replaces the window: no lock needed
  {
    std::lock_guard lock(lock_);
    if (window_) window_->halted.store(now);
  }
  if (!now) WakeHelper();  // the ticks go on
}

bool CVideoManager::FramesHalted() const {
  std::lock_guard lock(lock_);
  return !window_ || window_->halted.load() != 0;
}

void CVideoManager::SeekToSliderPosition() {
  CVideoSiteWindow* w = nullptr;
  std::optional<std::uint32_t> seek;
  std::u16string device;
  {
    std::lock_guard lock(lock_);
    if (currentChunk_ < chunks_.size() && window_ && window_->IsOpen()) {
      const VideoChunk& c = chunks_[currentChunk_];
      const int pos = std::clamp(TrackbarPos(), 0, kTrackbarMax);
      const std::uint64_t time = c.startMs + std::uint64_t(c.lengthMs) * std::uint64_t(pos) / 1000;
      if (window_->halted.load() != 0) {
        seek = std::uint32_t(std::min<std::uint64_t>(time, UINT32_MAX));
        w = window_.get();
        device = outputDevice_;
      }
    }
  }
  if (seek) {
    // The set-time empties the window's waiting jobs, a change of output among them: the
    // output is asked for again after it (a job that finds it in use does nothing).
    w->SetTime(*seek);
    w->SetOutputDevice(device);
  }
  Notify(TRACK_NOTIFY_POSITION);
}

bool CVideoManager::InsertBookmark() {
  if (window_ && window_->halted.load() == 0) window_->StopVoice();  // before the lock
  {
    std::lock_guard lock(lock_);
    if (!window_ || currentChunk_ >= chunks_.size()) return false;
    window_->halted.store(1);
    const std::int64_t pos = window_->PositionMs();
    VideoChunk& c = chunks_[currentChunk_];
    // Only a position inside the chunk splits it: a split at its edge or outside would make
    // an empty or overlapping chunk.
    if (pos <= std::int64_t(c.startMs) || pos >= std::int64_t(c.startMs) + c.lengthMs) return false;
    const std::uint32_t oldLength = c.lengthMs;
    const std::uint32_t head = std::uint32_t(pos) - c.startMs;
    c.lengthMs = head;
    c.offsetMs = head;
    chunks_.insert(chunks_.begin() + currentChunk_ + 1,
                   VideoChunk{std::uint32_t(pos), oldLength - head, 0, {}});
  }
  Notify(TRACK_NOTIFY_IDLE);
  chunkDataModified.store(1);
  SetTrackbar(kTrackbarMax);
  return true;
}

void CVideoManager::RemoveBookmark() {
  {
    std::lock_guard lock(lock_);
    if (chunks_.empty() || currentChunk_ + 1 >= chunks_.size()) return;
  }
  Stop();  // rewinds to the chunk's start, which the join keeps
  std::lock_guard lock(lock_);
  if (chunks_.empty() || currentChunk_ + 1 >= chunks_.size()) return;
  chunks_[currentChunk_].lengthMs += chunks_[currentChunk_ + 1].lengthMs;
  chunks_.erase(chunks_.begin() + currentChunk_ + 1);
  // The joined list differs from the file: the exit prompt must offer to save it.
  chunkDataModified.store(1);
}

void CVideoManager::SetWholeFile(bool on) {
  {
    std::lock_guard lock(lock_);
    if (on) {
      keptChunks_ = std::move(chunks_);  // a list set aside before is dropped
      chunks_ = {VideoChunk{0, durationMs_.load(), 0, {}}};
    } else {
      chunks_ = std::move(keptChunks_);
      keptChunks_.clear();
    }
    wholeFile_ = on;
    currentChunk_ = 0;
  }
  Notify(TRACK_NOTIFY_LOADED);
}

// ---- helper thread ----

void CVideoManager::HelperTick(bool trackbarHandled) {
  // The window is asked outside the lock (its sound's reading may wait on the server); this
  // thread holds windowUse_, so it stays.
  CVideoSiteWindow* w = nullptr;
  {
    std::lock_guard lock(lock_);
    w = window_.get();
  }
  std::int64_t pos = 0;
  bool fileEnded = false;
  if (w) {
    pos = w->PositionMs();
    // The file's end counts once its last sound was heard and its last frame drawn.
    fileEnded = w->EndOfFile() && w->SoundInHandMs() <= 0 && w->SecondExecutor().QueuedCount() == 0;
  }
  // Playing and paused are read under the lock: Start and TogglePause let the frames run
  // under it after setting them, so a stale "not playing" read before it would halt a
  // playback that just started, for good.
  bool ticking = false, stop = false, halt = false;
  {
    std::lock_guard lock(lock_);
    if (playing.load() && !paused.load()) {
      ticking = true;
      if (currentChunk_ >= chunks_.size() || !window_) {
        stop = true;  // nothing to play in
      } else {
        VideoChunk& c = chunks_[currentChunk_];
        const std::uint32_t rel =
            pos > std::int64_t(c.startMs) ? std::uint32_t(pos - c.startMs) : 0;
        // The file's end before the chunk's end ends the chunk too.
        if (rel < c.lengthMs && !fileEnded) {
          c.offsetMs = rel;
          if (!trackbarHandled) SetTrackbar(int(double(rel) / double(c.lengthMs) * 1000.0));
        } else {
          stop = true;
        }
      }
    } else if (window_) {
      window_->halted.store(1);
      halt = true;
    }
  }
  if (ticking) {
    if (stop) Stop();
    Notify(TRACK_NOTIFY_REFRESH);
  } else if (halt) {
    w->StopVoice();
  }
}

void CVideoManager::WakeHelper() {
  plat::PostThreadMessage(helperThreadId_.load(), kHelperWake, 0, 0);
}

bool CVideoManager::HelperHasWork() {
  std::lock_guard lock(lock_);
  return playing.load() && !paused.load();
}

void CVideoManager::HelperThread() {
  plat::CreateQueueByPostingToSelf();
  // The 50 ms tick: a timer of this manager's own.
  plat::WaitableTimer timer(kHelperTimerName);
  timer.ArmIn(kHelperTickNs, kHelperTickNs);
  helperThreadId_.store(plat::CurrentThreadId());
  for (;;) {
    // Wakes at the timer's next expiry, or for a message, taking at most one. Only a
    // playback needs the tick (its position, its end): stopped or paused, a video is still
    // halted at every message (a drag, a start), and nothing wakes the thread otherwise.
    plat::Msg msg;
    if (HelperHasWork())
      plat::GetMessageTimeout(&msg, std::chrono::milliseconds(std::max(timer.MsUntilNext(50), 1)));
    else
      plat::GetMessage(&msg);
    timer.TakeExpiries();
    bool trackbarHandled = false;
    if (msg.message == kHelperQuit) break;
    // Held while this pass calls into the window outside the state lock: the window is not
    // replaced meanwhile (the GUI thread waits for it only to replace or close the window).
    std::lock_guard use(windowUse_);
    if (msg.message == WM_HSCROLL) {
      const int code = int(msg.wParam & 0xFFFF);
      CVideoSiteWindow* w = nullptr;
      if (code == TB_THUMBTRACK) {
        {
          std::lock_guard lock(lock_);
          w = window_.get();
          if (w) {
            // A drag sends one code per mouse move: only its first one finds the frames as
            // the drag's end is to leave them.
            if (haltedAtThumbTrack_ == 0xFF) haltedAtThumbTrack_ = w->halted.load();
            w->halted.store(1);
          }
        }
        if (w) w->StopVoice();
      } else if (code == TB_ENDTRACK) {
        std::uint8_t restore = 0xFF;
        {
          std::lock_guard lock(lock_);
          w = window_.get();
          restore = std::exchange(haltedAtThumbTrack_, std::uint8_t(0xFF));
        }
        // Only a thumb drag halted the frames; a click's end leaves them as they are.
        if (w && restore != 0xFF) {
          w->StopVoice();
          std::lock_guard lock(lock_);
          w->halted.store(restore);
        }
      }
      SeekToSliderPosition();
      trackbarHandled = true;
    } else if (msg.message == WM_SOUND_OUT) {
      if (msg.wParam) ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
    }
    HelperTick(trackbarHandled);
  }
  plat::EndQueue([](const plat::Msg& m) {
    if (m.message == WM_SOUND_OUT && m.wParam)
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(m.wParam));
  });
}

}  // namespace vts
