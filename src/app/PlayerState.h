#pragma once

namespace sonarelle {

// Transport state of the accompaniment.
enum class TPlayState { psIdle, psPlaying, psPaused, psStopped, psEnded };

// Kind of the accompaniment last opened.
enum class TMediaKind { mkNone, mkVideo, mkAudio, mkKaraoke };

// Display window position and size saved on entering full screen.
struct TNormalBounds {
  int Top = 0;
  int Left = 0;
  int Width = 0;
  int Height = 0;
};

}  // namespace sonarelle
