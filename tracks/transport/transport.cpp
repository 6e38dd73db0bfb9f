// The transport's modes, its own stops and its shared steps.
#include "tracks/transport.h"

#include "tracks/sound_track.h"

namespace vts {
namespace {

using M = ModeRow::MasterStart;
using S = ModeRow::StudentStart;
using E = ModeRow::OnEnd;

constexpr ModeRow kModes[] = {
    {TransportMode::Comparison, kIdRepeat, M::Track, S::None, true, true, E::PlayStudent,
     E::PlayMasterTrack, E::Nothing},
    {TransportMode::SimultaneousPlay, kIdSimPlay, M::Source, S::Play, false, false, E::LeaveMode,
     E::LeaveMode, E::LeaveMode},
    {TransportMode::SimultaneousRecord, kIdSimRecord, M::Source, S::Record, false, false,
     E::Nothing, E::Nothing, E::Nothing},
    {TransportMode::SequentialPlay, kIdSeqPlay, M::Source, S::None, false, false, E::PlayStudent,
     E::LeaveMode, E::LeaveMode},
    {TransportMode::SequentialRecord, kIdSeqRecord, M::Source, S::None, false, false,
     E::RecordStudent, E::LeaveMode, E::LeaveMode},
};

std::intptr_t SenderOf(const CSoundTrack* track) { return reinterpret_cast<std::intptr_t>(track); }

// The chunk a step to the next chunk lands on, with the empty chunks it needs added; -1 when
// none could be added.
int NextChunkIndex(CSoundTrack& track, TrackOps& ops) {
  int current = track.CurrentChunkIndex();
  if (current == -1) {
    current = ops.AddChunk(track);
    if (current < 0) return -1;
    track.AdoptAsCurrentChunk(current);
  }
  if (current + 1 >= track.ChunkCount() && ops.AddChunk(track) < 0) return -1;
  return current + 1;
}

// The recording goes on in chunk `index`; where it cannot, the switch stops it and it starts
// again there.
void RecordOnIn(CSoundTrack& track, TrackOps& ops, int index) {
  if (ops.ContinueRecordingIn(track, index)) return;
  ops.SelectChunk(track, index);
  ops.ToggleRecord(track);
}

}  // namespace

std::span<const ModeRow> ModeTable() { return kModes; }

const ModeRow* FindMode(TransportMode mode) {
  for (const ModeRow& row : kModes)
    if (row.mode == mode) return &row;
  return nullptr;
}

// --- the Master track as a Master source ----------------------------------------------------

void CTrackMasterSource::Start() { ops_.Play(track_); }
void CTrackMasterSource::Stop() { ops_.StopPlayback(track_); }
void CTrackMasterSource::TogglePause() {
  if (track_.IsPlaying()) ops_.TogglePause(track_);
}
bool CTrackMasterSource::Playing() const { return track_.IsPlaying(); }
bool CTrackMasterSource::Running() const { return track_.IsPlaying() && !track_.IsPaused(); }
bool CTrackMasterSource::HasMedia() const {
  return track_.ChunkCount() > 0 || track_.KeptChunkCount() > 0;
}
int CTrackMasterSource::ChunkCount() const { return track_.ChunkCount(); }
int CTrackMasterSource::CurrentChunk() const { return track_.CurrentChunkIndex(); }
void CTrackMasterSource::NextChunk() {
  if (const int next = NextChunkIndex(track_, ops_); next >= 0) ops_.SelectChunk(track_, next);
}
void CTrackMasterSource::PrevChunk() {
  const int current = track_.CurrentChunkIndex();
  if (current >= 1) ops_.SelectChunk(track_, current - 1);
}
std::intptr_t CTrackMasterSource::SenderId() const { return SenderOf(&track_); }
std::uint32_t CTrackMasterSource::PlayGeneration() const { return track_.PlayGeneration(); }

// --- the transport ----------------------------------------------------------------------------

CTransport::CTransport() : ops_(std::make_shared<TrackOps>()) {}

void CTransport::SetTracks(CSoundTrack* master, CSoundTrack* student) {
  master_ = master;
  student_ = student;
  masterSource_ = master ? std::make_unique<CTrackMasterSource>(*master, *ops_) : nullptr;
}

void CTransport::SetOps(std::shared_ptr<TrackOps> ops) {
  ops_ = ops ? std::move(ops) : std::make_shared<TrackOps>();
  SetTracks(master_, student_);
}

IMasterSource* CTransport::Master() {
  if (video_) return video_;
  return masterSource_.get();
}

void CTransport::NoteOwnStop(std::intptr_t sender, std::uint32_t generation) {
  ownStopAt_[sender] = generation;
}

void CTransport::StopTrack(CSoundTrack& track) {
  const bool wasPlaying = track.IsPlaying();
  ops_->StopPlayback(track);
  if (wasPlaying) NoteOwnStop(SenderOf(&track), track.PlayGeneration());
}

void CTransport::PauseTrack(CSoundTrack& track) {
  // Pausing stops the playback, which posts code 5.
  const bool wasRunning = track.IsPlaying() && !track.IsPaused();
  ops_->TogglePause(track);
  if (wasRunning) NoteOwnStop(SenderOf(&track), track.PlayGeneration());
}

void CTransport::StopMaster() {
  if (video_) {
    const bool wasPlaying = video_->Playing();
    video_->Stop();
    if (wasPlaying) NoteOwnStop(video_->SenderId(), video_->PlayGeneration());
  } else if (master_) {
    StopTrack(*master_);
  }
}

void CTransport::StartMaster() {
  if (IMasterSource* source = Master()) source->Start();
}

void CTransport::StepNext(CSoundTrack& track) { CTrackMasterSource(track, *ops_).NextChunk(); }
void CTransport::StepPrev(CSoundTrack& track) { CTrackMasterSource(track, *ops_).PrevChunk(); }
void CTransport::StepNextRecording(CSoundTrack& track) {
  if (const int next = NextChunkIndex(track, *ops_); next >= 0) RecordOnIn(track, *ops_, next);
}
void CTransport::StepPrevRecording(CSoundTrack& track) {
  if (const int current = track.CurrentChunkIndex(); current >= 1)
    RecordOnIn(track, *ops_, current - 1);
}

int CTransport::MasterCount() {
  IMasterSource* source = Master();
  return source ? source->ChunkCount() : 0;
}

int CTransport::MasterPosition() {
  IMasterSource* source = Master();
  return source ? source->CurrentChunk() : -1;
}

void CTransport::PressMode(TransportMode mode) {
  const ModeRow* row = FindMode(mode);
  if (row == nullptr || master_ == nullptr || student_ == nullptr) return;
  if (row->endsStudentRecording && student_->IsRecording()) ops_->ToggleRecord(*student_);
  if (row->master == ModeRow::MasterStart::Track) {
    StopTrack(*master_);
  } else {
    StopMaster();
  }
  StopTrack(*student_);
  const bool leave = row->leavesAnyMode ? mode_ != TransportMode::None : mode_ == mode;
  if (leave) {
    mode_ = TransportMode::None;
    return;
  }
  if (row->master == ModeRow::MasterStart::Track) {
    ops_->Play(*master_);
  } else {
    StartMaster();
  }
  if (row->student == ModeRow::StudentStart::Play) ops_->Play(*student_);
  if (row->student == ModeRow::StudentStart::Record) ops_->ToggleRecord(*student_);
  mode_ = mode;
}

void CTransport::Apply(ModeRow::OnEnd action) {
  switch (action) {
    case ModeRow::OnEnd::Nothing:
      break;
    case ModeRow::OnEnd::PlayStudent:
      ops_->Play(*student_);
      break;
    case ModeRow::OnEnd::PlayMasterTrack:
      ops_->Play(*master_);
      break;
    case ModeRow::OnEnd::RecordStudent:
      ops_->ToggleRecord(*student_);
      break;
    case ModeRow::OnEnd::LeaveMode:
      mode_ = TransportMode::None;
      break;
  }
}

bool CTransport::OnPlaybackEnded(std::intptr_t sender) {
  const bool fromMaster = master_ && sender == SenderOf(master_);
  const bool fromStudent = student_ && sender == SenderOf(student_);
  const bool fromVideo = video_ && video_->SenderId() == sender;
  if (fromMaster || fromStudent || fromVideo) {
    bool playing = false;
    std::uint32_t generation = 0;
    if (fromVideo) {
      playing = video_->Playing();
      generation = video_->PlayGeneration();
    } else {
      CSoundTrack& track = fromMaster ? *master_ : *student_;
      playing = track.IsPlaying();
      generation = track.PlayGeneration();
    }
    if (playing) return false;  // it plays again: whatever ended is over
    auto it = ownStopAt_.find(sender);
    if (it != ownStopAt_.end() && it->second == generation) return false;  // our own stop
    // Taken: a second notice of the same end finds the generation where this one left it.
    ownStopAt_[sender] = generation;
  }
  if (master_ == nullptr || student_ == nullptr) return true;
  if (const ModeRow* row = FindMode(mode_)) {
    Apply(fromMaster ? row->masterTrackEnds : fromStudent ? row->studentEnds : row->otherEnds);
  }
  return true;
}

}  // namespace vts
