#pragma once

#include <memory>
#include <string>

namespace somnara::host {

/// Short sounds the program plays. All calls on the run loop's thread.
class Sounds {
 public:
  /// A loaded sound. play() starts it and returns at once; playing it again
  /// while it plays starts it over. Failures while playing are passed over.
  class Sound {
   public:
    virtual ~Sound() = default;
    virtual void play() = 0;
    /// 0 is silence, 1 full volume; values outside are clamped.
    virtual void setVolume(float volume) = 0;
    virtual float volume() const = 0;
  };

  virtual ~Sounds() = default;

  /// A sound from the file at path, read by reference when it plays; null
  /// when the file cannot be read as a sound.
  virtual std::unique_ptr<Sound> soundFromFile(const std::string& path) = 0;

  /// The sound called name among the program's resources, else the system's;
  /// null when there is none.
  virtual std::unique_ptr<Sound> namedSound(const std::string& name) = 0;
};

}  // namespace somnara::host
