// The recorder's transport without its window: the five modes in one table (what each starts
// on the Master and the Student, what an end of playback does next), the window's own stops
// told from real ends by the sources' playback generations, and the shared steps of the
// transport buttons (stopping, pausing and stepping tracks, the Master side's count and
// position). The window adds its looks, the mirroring to a linked peer and the redraws.
//
// Threading: UI thread only (the tracks' notices reach it posted).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>

#include "tracks/master_source.h"
#include "tracks/track_ops.h"

namespace vts {

class CSoundTrack;

enum class TransportMode : std::uint32_t {
  None = 0,
  Comparison = 1,  // the tracks take turns without end
  SimultaneousPlay = 2,
  SimultaneousRecord = 3,
  SequentialPlay = 4,    // the Student plays after the Master's chunk
  SequentialRecord = 5,  // the Student records after the Master's chunk
};

// The window's control ids that the transport's buttons and the mirror message carry.
enum ControlId : int {
  kIdMasterPrev = 1011,
  kIdMasterPlay = 1012,
  kIdMasterNext = 1013,
  kIdPrev = 1014,
  kIdRecord = 1017,
  kIdPlay = 1018,
  kIdNextB = 1019,
  kIdRepeat = 1024,
  kIdNextChunk = 1025,
  kIdMasterPause = 1033,  // a command only
  kIdPause = 1034,
  kIdMasterStop = 1035,
  kIdStop = 1036,
  kIdSeqPlay = 1037,
  kIdSeqRecord = 1038,
  kIdSimPlay = 1039,
  kIdSimRecord = 1040,
  kIdPrevChunk = 1042,
};

// One row of the mode table.
struct ModeRow {
  enum class MasterStart { Track, Source };  // the Master track, or the Master side (video)
  enum class StudentStart { None, Play, Record };
  enum class OnEnd { Nothing, PlayStudent, PlayMasterTrack, RecordStudent, LeaveMode };

  TransportMode mode;
  int buttonId;
  MasterStart master;
  StudentStart student;
  bool leavesAnyMode;         // pressed in any running mode it leaves it (else only its own)
  bool endsStudentRecording;  // a Student recording ends first
  OnEnd masterTrackEnds, studentEnds, otherEnds;  // by the sender of the ended notice
};

// The five modes (not None), in mode order.
std::span<const ModeRow> ModeTable();
// The row of `mode`, or null for None and unknown values.
const ModeRow* FindMode(TransportMode mode);

// The Master track as a Master source, through the track operations.
class CTrackMasterSource final : public IMasterSource {
 public:
  CTrackMasterSource(CSoundTrack& track, TrackOps& ops) : track_(track), ops_(ops) {}
  void Start() override;
  void Stop() override;
  void TogglePause() override;  // only while playing
  bool Playing() const override;
  bool Running() const override;
  bool HasMedia() const override;  // chunks, or a chunk list set aside (whole-file view)
  int ChunkCount() const override;
  int CurrentChunk() const override;
  void NextChunk() override;  // StepNext
  void PrevChunk() override;  // StepPrev
  std::intptr_t SenderId() const override;
  std::uint32_t PlayGeneration() const override;
  CSoundTrack& Track() const { return track_; }

 private:
  CSoundTrack& track_;
  TrackOps& ops_;
};

class CTransport {
 public:
  CTransport();

  void SetTracks(CSoundTrack* master, CSoundTrack* student);
  void SetOps(std::shared_ptr<TrackOps> ops);
  TrackOps& Ops() const { return *ops_; }
  CSoundTrack* MasterTrack() const { return master_; }
  CSoundTrack* StudentTrack() const { return student_; }
  // The Master side when it is not the Master track (the video); null: the Master track.
  void SetMasterSource(IMasterSource* source) { video_ = source; }
  // The Master side: the video when one is set, else the Master track (null without one).
  IMasterSource* Master();

  TransportMode Mode() const { return mode_; }
  void SetMode(TransportMode mode) { mode_ = mode; }

  // Shared steps. The stops and pauses of a playing source are noted as the transport's
  // own: their notices are no end.
  void StopTrack(CSoundTrack& track);
  void PauseTrack(CSoundTrack& track);
  void StopMaster();
  void StartMaster();
  // The Student grows with empty chunks to follow the Master.
  void StepNext(CSoundTrack& track);
  void StepPrev(CSoundTrack& track);
  // The same steps for a track that records: its recording goes on in the chunk stepped to
  // without a break, or, where it cannot, stops there and starts again.
  void StepNextRecording(CSoundTrack& track);
  void StepPrevRecording(CSoundTrack& track);
  int MasterCount();
  int MasterPosition();

  // A mode button: leaves the mode (its own, or any for the comparison) or starts it.
  void PressMode(TransportMode mode);
  // A playback-ended notice of `sender`. The mode's reaction runs only for a real end: the
  // sender does not play, and its generation moved on since the transport's own last stop
  // of it. Returns whether it counted as a real end.
  bool OnPlaybackEnded(std::intptr_t sender);

 private:
  void NoteOwnStop(std::intptr_t sender, std::uint32_t generation);
  void Apply(ModeRow::OnEnd action);

  std::shared_ptr<TrackOps> ops_;
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  std::unique_ptr<CTrackMasterSource> masterSource_;
  IMasterSource* video_ = nullptr;
  TransportMode mode_ = TransportMode::None;
  // Per sender: its generation right after the transport's own last stop or pause of it.
  std::map<std::intptr_t, std::uint32_t> ownStopAt_;
};

}  // namespace vts
