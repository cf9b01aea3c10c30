#include "host/linux/CanberraSounds.h"

#include <canberra.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kExtensions[] = {".wav", ".oga", ".ogg"};
constexpr const char* kThemeExtensions[] = {".oga", ".ogg", ".wav"};

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
    played_ = true;
    ca_context_play(c, id_, CA_PROP_MEDIA_FILENAME, path_.c_str(), CA_PROP_CANBERRA_VOLUME, decibel,
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

bool CanberraSounds::isSoundFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[12] = {};
  if (!in.read(head, sizeof head)) return false;
  const std::string h(head, sizeof head);
  return h.compare(0, 4, "OggS") == 0 || (h.compare(0, 4, "RIFF") == 0 && h.compare(8, 4, "WAVE") == 0);
}

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
