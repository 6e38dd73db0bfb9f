// The recorder window's device choice and levels: the level sliders' right-click menus
// (playback device; capture device and recording source) and the thumb's drag, which sets
// the endpoint's volume. GUI thread only.
#include <QMenu>
#include <algorithm>

#include "audio/endpoint.h"
#include "audio/sound_works_was.h"
#include "core/app_core.h"
#include "core/settings_files.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/graphic_slider.h"
#include "ui/main_dialog.h"

namespace vts::ui {
namespace {

constexpr std::uint32_t kSourceItemHigh = 0xFFFF0000u;
constexpr char16_t kVirtualCable[] = u"VB-Audio Virtual Cable";

// The real popup: the items in order, checked marks, separators; the chosen id or 0.
std::uint32_t RunQtMenu(QWidget* owner, const std::vector<CMainDlg::MenuItem>& items, QPoint at) {
  QMenu menu(owner);
  for (const CMainDlg::MenuItem& item : items) {
    if (item.separator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(item.text);
    action->setCheckable(item.checked);
    action->setChecked(item.checked);
    action->setData(QVariant::fromValue<quint32>(item.id));
  }
  QAction* chosen = menu.exec(at);
  return chosen ? chosen->data().value<quint32>() : 0;
}

}  // namespace

std::size_t RemoveVirtualCableDevices(std::vector<SoundDeviceEntry>& list) {
  const std::size_t before = list.size();
  std::erase_if(list, [](const SoundDeviceEntry& e) {
    return e.name.find(kVirtualCable) != std::u16string::npos;
  });
  return before - list.size();
}

void CMainDlg::SetPopupMenu(PopupMenuFn menu) { m_popupMenu = std::move(menu); }

void CMainDlg::AddMenuItem(std::vector<MenuItem>& menu, std::uint32_t* position,
                           const std::u16string& current,
                           const std::vector<SoundDeviceEntry>& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    MenuItem item;
    item.id = static_cast<std::uint32_t>(i + 1);
    item.text = QString::fromStdU16String(list[i].name);
    item.checked = list[i].id == current;
    menu.insert(menu.begin() + std::min<std::size_t>(*position + i, menu.size()), item);
  }
  *position += static_cast<std::uint32_t>(list.size());
}

void CMainDlg::BuildContextMenu(QWidget* clicked, std::vector<MenuItem>& menu,
                                const std::vector<SoundDeviceEntry>& outputs,
                                const std::vector<SoundDeviceEntry>& inputs) {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m) return;
  std::uint32_t position = 0;
  if (clicked == m_volumeSlider) {
    AddMenuItem(menu, &position, m->OutputDevice(), outputs);
  } else if (clicked == m_inputSlider) {
    const std::uint32_t sources = (s ? s->RecordSources() : 0) & 3u;
    menu.push_back({kSourceItemHigh | 1u, QStringLiteral("Mic only"), sources == 1, false});
    menu.push_back({kSourceItemHigh | 2u, QStringLiteral("PC only"), sources == 2, false});
    menu.push_back({kSourceItemHigh | 3u, QStringLiteral("Mic and PC"), sources == 3, false});
    menu.push_back({0, QString(), false, true});
    position = static_cast<std::uint32_t>(menu.size());
    AddMenuItem(menu, &position, m->InputDevice(), inputs);
  }
}

void CMainDlg::ShowEndpointLevel(CGraphicSlider* slider, audio::EndpointVolume* volume) {
  if (!slider) return;
  float level = 0.0f;
  if (!volume || volume->GetMasterVolumeLevelScalar(&level) != audio::Status::Ok) level = 0.0f;
  slider->SetThumbOffset(
      static_cast<int>(static_cast<float>(slider->Travel()) * std::min(1.0f, level)));
}

void CMainDlg::OnContextMenu(QWidget* window, QPoint point) {
  // Every right click stops both tracks first, whatever was clicked.
  OnBnClickedMasterStop();
  OnBnClickedStop();

  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  std::vector<SoundDeviceEntry> outputs, inputs;
  if (m && m->Engine()) {
    outputs = m->Engine()->GetOutputDevices();
    inputs = m->Engine()->GetInputDevices();
  }
  RemoveVirtualCableDevices(outputs);
  RemoveVirtualCableDevices(inputs);

  std::vector<MenuItem> menu;
  BuildContextMenu(window, menu, outputs, inputs);
  if (menu.empty() || !m) return;  // an empty menu returns 0 at once

  const QPoint at = window ? window->mapToGlobal(point) : point;
  const std::uint32_t id = m_popupMenu ? m_popupMenu(menu, at) : RunQtMenu(this, menu, at);
  if (id == 0) return;  // dismissed: nothing is written

  CAppCore* core = Core();
  // A device goes to both tracks (their volume controls reopened on it) and to the core;
  // the thumb shows its volume.
  auto choose = [&](bool input, const std::u16string& chosen) {
    for (CSoundTrack* t : {m, s}) {
      if (!t) continue;
      if (input) {
        t->SetInputDevice(chosen);
      } else {
        t->SetOutputDevice(chosen);
      }
    }
    if (core) {
      core->SetAudioDeviceNames(input ? u"" : chosen, input ? chosen : u"");
      (input ? core->inputDeviceName : core->outputDeviceName) = chosen;
    }
    ShowEndpointLevel(input ? m_inputSlider : m_volumeSlider,
                      input ? m->InputVolume() : m->OutputVolume());
  };
  if (window == m_volumeSlider) {
    if (id > outputs.size()) return;
    choose(false, outputs[id - 1].id);
  } else if (window == m_inputSlider) {
    if ((id & 0xFFFF0000u) == kSourceItemHigh) {
      for (CSoundTrack* t : {m, s})
        if (t) t->SetRecordSources(id & 0xFFFFu);
      update();
    } else {
      if (id > inputs.size()) return;
      choose(true, inputs[id - 1].id);
    }
  } else {
    return;
  }
  if (core)
    WriteWaveDeviceSettings(core->outputDeviceName, core->inputDeviceName,
                            core->waveDeviceSettingsPath);
}

void CMainDlg::OnVScroll(int code, int position, QWidget* slider) {
  if (code != SB_THUMBTRACK) return;
  CSoundTrack* m = MasterTrack();
  if (!m) return;
  const bool input = slider == m_inputSlider;
  if (!input && slider != m_volumeSlider) return;
  audio::EndpointVolume* volume = input ? m->InputVolume() : m->OutputVolume();
  if (volume) volume->SetMasterVolumeLevelScalar(static_cast<float>(position) / 100.0f);
}

}  // namespace vts::ui
