#pragma once

// What the package exports: its entry points, its module state and the form classes. Everything
// else stays inside the library, so no other library binds to it and it can really be unloaded.
#define PKG_FIS11000_EXPORT __attribute__((visibility("default")))
