// Window-message and notification numbers of the recorder window, with their Windows values
// so that peers, the classroom and the logs see the same numbers.
#pragma once

#include <cstdint>

namespace vts::ui {

constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_TRACKNOTIFY = WM_USER + 1;
constexpr unsigned WM_SETSLIDERLEVEL = WM_USER + 152;
constexpr unsigned WM_FRAMEWORKREQUEST = WM_USER + 302;
constexpr unsigned WM_DAEMONNOTIFY = WM_USER + 400;
constexpr unsigned WM_REMOTECONTROL = WM_USER + 402;
constexpr unsigned WM_COPYDATA = 0x004A;
constexpr unsigned WM_CONTEXTMENU = 0x007B;
constexpr unsigned WM_VSCROLL = 0x0115;

// Notification codes of WM_COMMAND and WM_NOTIFY.
constexpr int BN_CLICKED = 0;
constexpr int STN_DBLCLK = 1;
constexpr int EN_CHANGE = 0x0300;
constexpr int NM_RCLICK = -5;

// Slider scroll codes.
constexpr int SB_THUMBTRACK = 5;
constexpr int SB_ENDSCROLL = 8;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

}  // namespace vts::ui
