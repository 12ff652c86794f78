#pragma once
// What the server keeps in memory so as not to ask the disk again: copies of
// settled files, directories found by name. Each such cache adds the
// function that empties it here, so that one call forgets them all (a test
// that changes files behind the server's back, for one).
void AddCache(void (*forget)());
void ForgetCaches();

// Adds a cache where it is defined:
//   static QHash<...> kept;
//   static const CacheForgetter forgetting([] { kept.clear(); });
struct CacheForgetter {
    explicit CacheForgetter(void (*forget)()) { AddCache(forget); }
};
