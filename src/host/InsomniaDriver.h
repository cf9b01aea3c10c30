#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace somnara::host {

/// The service that keeps the machine awake with its lid closed. A program
/// looks for its instances, opens a connection to one and calls it with a
/// selector: kStart, after which the machine stays awake with its lid closed
/// too, until kStop. All calls on the run loop's thread.
class InsomniaDriver {
 public:
  static constexpr std::uint32_t kStart = 2;
  static constexpr std::uint32_t kStop = 3;

  /// An open connection; closed when destroyed, which also ends what kStart
  /// took.
  class Connection {
   public:
    virtual ~Connection() = default;
    /// Calls the service with selector and no data either way; true exactly
    /// when the service accepted the call. Calls fail once the service is gone.
    virtual bool callMethod(std::uint32_t selector) = 0;
  };

  virtual ~InsomniaDriver() = default;

  /// How many instances of the service are present (0 is a successful look);
  /// nullopt when the look itself failed.
  virtual std::optional<std::size_t> matchingServices() = 0;

  /// Opens a connection to instance index (below matchingServices()); null
  /// when it cannot be opened.
  virtual std::unique_ptr<Connection> open(std::size_t index) = 0;

  /// Why the latest open() or kStart call that failed did so, for the user;
  /// empty when the service gave no reason.
  virtual std::string failureReason() const = 0;
};

}  // namespace somnara::host
