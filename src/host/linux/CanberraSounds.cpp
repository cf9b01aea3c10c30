#include "host/linux/CanberraSounds.h"

#include <canberra.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kExtensions[] = {".wav", ".oga", ".ogg"};
constexpr const char* kThemeExtensions[] = {".oga", ".ogg", ".wav"};

// A descriptor of a regular file, opened without waiting: a FIFO or device
// named in the settings must never block the program. -1 for anything else.
class RegularFile {
 public:
  explicit RegularFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RegularFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }

  /// Whether it starts like a sound libcanberra can decode.
  bool startsLikeASound() const {
    char head[12] = {};
    if (fd_ < 0 || ::pread(fd_, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
    const std::string_view h(head, sizeof head);
    return h.starts_with("OggS") || (h.starts_with("RIFF") && h.substr(8, 4) == "WAVE");
  }

  /// A name that opens this very file, whatever the path names by then.
  std::string procPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

}  // namespace

/// One libcanberra context for all sounds of the program, created when the
/// first sound plays.
class CanberraSounds::Context {
 public:
  ~Context() {
    if (context_) ca_context_destroy(context_);
  }

  ca_context* get() {
    if (!context_ && !failed_ && ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      failed_ = true;
    }
    return context_;
  }

  std::uint32_t nextId() { return nextId_++; }

 private:
  ca_context* context_ = nullptr;
  bool failed_ = false;
  std::uint32_t nextId_ = 1;
};

class CanberraSounds::CanberraSound final : public Sound {
 public:
  CanberraSound(std::shared_ptr<Context> context, std::string path)
      : context_(std::move(context)), path_(std::move(path)), id_(context_->nextId()) {}

  ~CanberraSound() override {
    if (ca_context* c = context_->get(); c && played_) ca_context_cancel(c, id_);
  }

  void play() override {
    if (volume_ <= 0.0f) return;
    ca_context* c = context_->get();
    if (!c) return;
    if (played_) ca_context_cancel(c, id_);
    char decibel[32];
    std::snprintf(decibel, sizeof decibel, "%.2f", 20.0 * std::log10(static_cast<double>(volume_)));
    // libcanberra opens the file before ca_context_play returns.
    const RegularFile file(path_);
    if (!file.isOpen()) return;
    played_ = true;
    ca_context_play(c, id_, CA_PROP_MEDIA_FILENAME, file.procPath().c_str(), CA_PROP_CANBERRA_VOLUME, decibel,
                    CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
  }

  void setVolume(float volume) override { volume_ = std::clamp(volume, 0.0f, 1.0f); }
  float volume() const override { return volume_; }

 private:
  std::shared_ptr<Context> context_;
  std::string path_;
  std::uint32_t id_;
  float volume_ = 1.0f;
  bool played_ = false;
};

CanberraSounds::CanberraSounds(host::Workspace& workspace)
    : workspace_(workspace), context_(std::make_shared<Context>()) {}

CanberraSounds::~CanberraSounds() = default;

bool CanberraSounds::isSoundFile(const std::string& path) { return RegularFile(path).startsLikeASound(); }

std::vector<std::string> CanberraSounds::dataDirectories() {
  std::vector<std::string> dirs{xdgDirectory("XDG_DATA_HOME", "/.local/share")};
  const char* system = std::getenv("XDG_DATA_DIRS");
  std::string list = system && *system ? system : "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= list.size();) {
    const auto colon = std::min(list.find(':', start), list.size());
    if (colon > start && list[start] == '/') dirs.push_back(list.substr(start, colon - start));
    start = colon + 1;
  }
  return dirs;
}

std::unique_ptr<host::Sounds::Sound> CanberraSounds::soundFromFile(const std::string& path) {
  if (path.empty() || !isSoundFile(path)) return nullptr;
  return std::make_unique<CanberraSound>(context_, path);
}

std::unique_ptr<host::Sounds::Sound> CanberraSounds::namedSound(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  for (const char* ext : kExtensions)
    if (auto path = workspace_.pathForResource(name + ext))
      if (auto sound = soundFromFile(*path)) return sound;
  for (const auto& dir : dataDirectories())
    for (const char* ext : kThemeExtensions)
      if (auto sound = soundFromFile(dir + "/sounds/freedesktop/stereo/" + name + ext)) return sound;
  return nullptr;
}

}  // namespace somnara::linuxhost
