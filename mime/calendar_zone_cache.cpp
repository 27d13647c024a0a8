#include "mime/calendar_zone_cache.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace mailfold::mime::detail {
namespace {

// A mailbox holds few distinct zones; past this many the zone of the calendar is used as it is.
constexpr std::size_t kMaxZones = 256;

struct ZoneCache {
  std::mutex mutex;
  std::map<std::string, icaltimezone*> byDefinition;
};

ZoneCache& cache() {
  static ZoneCache* zones = new ZoneCache;  // kept for the process: the zones are handed out
  return *zones;
}

}  // namespace

icaltimezone* sharedZone(const icaltimezone* zone) {
  auto* own = const_cast<icaltimezone*>(zone);
  if (!own || own == icaltimezone_get_utc_timezone()) return own;
  icalcomponent* definition = icaltimezone_get_component(own);
  if (!definition) return own;
  char* text = icalcomponent_as_ical_string_r(definition);
  if (!text) return own;
  std::string key(text);
  std::free(text);
  ZoneCache& zones = cache();
  std::lock_guard<std::mutex> lock(zones.mutex);
  if (auto found = zones.byDefinition.find(key); found != zones.byDefinition.end()) return found->second;
  if (zones.byDefinition.size() >= kMaxZones) return own;
  icaltimezone* shared = icaltimezone_new();
  if (!shared || !icaltimezone_set_component(shared, icalcomponent_new_clone(definition))) {
    if (shared) icaltimezone_free(shared, 1);
    return own;
  }
  zones.byDefinition.emplace(std::move(key), shared);
  return shared;
}

icaltimetype withSharedZone(icaltimetype t) {
  if (!t.is_date && t.zone) t.zone = sharedZone(t.zone);
  return t;
}

}  // namespace mailfold::mime::detail
