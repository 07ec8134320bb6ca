// The OID table of one simulated camera: every readable object with its
// current value, the rules for writing each one, and the reply pages of
// "/get.oid?" and "/set.oid?".
//
// Threading: every method may be called from any thread; mu_ guards values_.
// The model description is immutable after construction.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camsim.h"
#include "device_model.h"
#include "util/mutex.h"
#include "util/thread_annotations.h"

namespace camsim {

class OidStore {
 public:
  // Longest value a write may store; a longer one is refused.
  static constexpr size_t kMaxValueLength = 256;
  // Most items one "/set.oid?" request may carry.
  static constexpr size_t kMaxItemsPerRequest = 64;

  OidStore(ModelSpec model_spec, std::string mac_address, uint16_t rtsp_port);

  const ModelSpec& model_spec() const { return spec_; }

  std::optional<std::string> Read(std::string_view oid) const;

  struct WriteResult {
    bool accepted = false;
    std::string error;  // why it was refused
  };
  // A write as the camera's web interface takes it: validated per OID.
  WriteResult Write(std::string_view oid, std::string_view value);
  // Sets a value without validation (test control, input simulation).
  void Force(std::string_view oid, std::string_view value);

  // The page answering "/get.oid?<query>": one value for one OID, one
  // "OID=value" line per OID for several; unknown OIDs give an error text.
  std::string GetPage(std::string_view query) const;
  // Applies the "OidTR…"/"OidTB…" items of "/set.oid?<query>" in order,
  // appending each to *writes; returns the reply page.
  std::string SetPage(std::string_view query, std::vector<OidWrite>* writes);

 private:
  std::optional<std::string> ValidateWrite(std::string_view oid, std::string_view value) const
      REQUIRES(mu_);

  const ModelSpec spec_;
  mutable korvela::Mutex mu_;
  std::map<std::string, std::string, std::less<>> values_ GUARDED_BY(mu_);
};

// Decodes %XX escapes (and '+' as blank) of one query item; invalid escapes
// are kept as they are.
std::string UnescapeQueryItem(std::string_view text);

// Wraps text into the camera's reply page, between "<xmp>" and "</xmp>".
std::string XmpPage(std::string_view text);

}  // namespace camsim
