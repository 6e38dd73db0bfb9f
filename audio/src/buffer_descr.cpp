// Buffer descriptors: making, releasing and finding the header.
#include "audio/buffer_descr.h"

namespace vts {

CBufferDescr* MakeBufferDescr(std::uint32_t size) {
  auto* descr = new CBufferDescr();
  descr->size = size;
  descr->index = -1;
  descr->data = std::make_shared<CBufferData>(size);
  descr->holdCount = 1;
  if (!descr->data) {
    delete descr;
    return nullptr;
  }
  return descr;
}

void ReleaseBufferDescr(CBufferDescr* descr) {
  if (!descr) return;
  descr->data.reset();
  descr->spare.clear();
  delete descr;
}

std::uint8_t* AlignUp16(std::uint8_t* p) {
  auto address = reinterpret_cast<std::uintptr_t>(p);
  return p + ((16 - (address & 15)) & 15);
}

SoundBlockHeader* PlaybackHeader(const CBufferDescr& descr) {
  if (!descr.data || !descr.data->data) return nullptr;
  return reinterpret_cast<SoundBlockHeader*>(descr.data->data);
}

SoundBlockHeader* CapturedHeader(const CBufferDescr& descr) {
  if (!descr.data || !descr.data->data) return nullptr;
  return reinterpret_cast<SoundBlockHeader*>(AlignUp16(descr.data->data));
}

}  // namespace vts
