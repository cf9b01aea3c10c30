#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Sounds.h"
#include "host/Workspace.h"

namespace somnara::linuxhost {

/// Sounds played through libcanberra (PulseAudio/PipeWire or ALSA): it
/// decodes WAV and Ogg Vorbis, the formats of the freedesktop sound themes,
/// opens the sound server only when a sound first plays, and fails at once
/// where there is no audio device.
///   soundFromFile  a readable regular WAV ("RIFF…WAVE") or Ogg ("OggS")
///                  file, kept by path and read again at each play; a FIFO,
///                  device or directory is never opened for reading, so
///                  nothing a settings file names can block the program
///   namedSound     the program's resource "<name>.wav", "<name>.oga" or
///                  "<name>.ogg" (Workspace::pathForResource), else
///                  sounds/freedesktop/stereo/<name>.{oga,ogg,wav} in the XDG
///                  data directories
/// Volume v in 0..1 plays at 20·log10(v) dB; 0 plays nothing.
class CanberraSounds final : public host::Sounds {
 public:
  explicit CanberraSounds(host::Workspace& workspace);
  ~CanberraSounds() override;

  std::unique_ptr<Sound> soundFromFile(const std::string& path) override;
  std::unique_ptr<Sound> namedSound(const std::string& name) override;

  /// Whether the path names a regular file that starts like a sound
  /// libcanberra can decode; never waits.
  static bool isSoundFile(const std::string& path);

  /// XDG data directories, most important first: $XDG_DATA_HOME (or
  /// ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
  static std::vector<std::string> dataDirectories();

 private:
  class Context;
  class CanberraSound;

  host::Workspace& workspace_;
  std::shared_ptr<Context> context_;
};

}  // namespace somnara::linuxhost
