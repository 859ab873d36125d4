#pragma once

#include <QIcon>
#include <QImage>

// The test window's pictures, drawn by the program itself (no binary
// assets): they stay crisp and carry no outside artwork.
namespace playlist {

// Image1: a student wearing a headset, 129 × 209.
[[nodiscard]] QImage headsetPicture();
// imgLogo: a studio microphone, 38 × 40.
[[nodiscard]] QImage microphonePicture();
// Pictures of btplay (33 × 33) and btpause (32 × 33).
[[nodiscard]] QIcon playButtonIcon();
[[nodiscard]] QIcon pauseButtonIcon();
// treeviewimglist: state images 1 (part), 2 (section), 3 (item), 16 × 16.
// Any other index gives an empty icon.
[[nodiscard]] QIcon treeStateIcon(int index);

} // namespace playlist
