// The engine interface's own part: user values and the engine tag.
#include "audio/sound_works.h"

#include <atomic>

namespace vts {
namespace {
std::atomic<std::uint32_t> g_nextEngineTag{1};
}

CSoundWorksBase::CSoundWorksBase() : engineTag_(g_nextEngineTag.fetch_add(1)) {
  if (engineTag_ == 0) engineTag_ = g_nextEngineTag.fetch_add(1);
}

CSoundWorksBase::~CSoundWorksBase() = default;

void CSoundWorksBase::SetUserPair1(std::uint32_t value0, std::int32_t value1) {
  userValues_[0] = value0;
  userValues_[1] = static_cast<std::uint32_t>(value1);
}

void CSoundWorksBase::SetUserPair2(std::uint32_t value2, std::int32_t value3) {
  userValues_[2] = value2;
  userValues_[3] = static_cast<std::uint32_t>(value3);
}

}  // namespace vts
