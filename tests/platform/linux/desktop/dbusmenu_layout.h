// Reads a com.canonical.dbusmenu tree the way a panel does: GetLayout over the bus, parsed into
// plain nodes.
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

struct MenuNode {
  int id = 0;
  std::string label;
  std::string type;
  std::string toggleType;
  int toggleState = -1;
  std::string childrenDisplay;
  std::vector<std::vector<std::string>> shortcut;
  std::vector<MenuNode> children;

  const MenuNode* child(const std::string& withLabel) const {
    for (const MenuNode& c : children) {
      if (c.label == withLabel) return &c;
    }
    return nullptr;
  }
  std::vector<std::string> labels() const {
    std::vector<std::string> out;
    for (const MenuNode& c : children) out.push_back(c.type == "separator" ? "-" : c.label);
    return out;
  }
};

inline MenuNode parseMenuNode(GVariant* node) {
  MenuNode out;
  GVariant* props = nullptr;
  GVariant* children = nullptr;
  g_variant_get(node, "(i@a{sv}@av)", &out.id, &props, &children);
  GVariantIter iter;
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  g_variant_iter_init(&iter, props);
  while (g_variant_iter_loop(&iter, "{&sv}", &key, &value)) {
    const std::string k = key;
    if (k == "label") out.label = g_variant_get_string(value, nullptr);
    if (k == "type") out.type = g_variant_get_string(value, nullptr);
    if (k == "toggle-type") out.toggleType = g_variant_get_string(value, nullptr);
    if (k == "toggle-state") out.toggleState = g_variant_get_int32(value);
    if (k == "children-display") out.childrenDisplay = g_variant_get_string(value, nullptr);
    if (k == "shortcut") {
      for (gsize i = 0; i < g_variant_n_children(value); ++i) {
        GVariant* combo = g_variant_get_child_value(value, i);
        std::vector<std::string> parts;
        for (gsize j = 0; j < g_variant_n_children(combo); ++j) {
          const gchar* part = nullptr;
          g_variant_get_child(combo, j, "&s", &part);
          parts.emplace_back(part);
        }
        out.shortcut.push_back(parts);
        g_variant_unref(combo);
      }
    }
  }
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    out.children.push_back(parseMenuNode(child));
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(props);
  g_variant_unref(children);
  return out;
}

// The whole tree under the root; `ok` false when the menu could not be read. Retries while the
// menu is not yet on the bus (the server exports it once its bus connection is ready).
inline MenuNode getMenuLayout(GDBusConnection* peer, const std::string& dest,
                              const std::string& path, bool& ok) {
  MenuNode root;
  ok = runUntil(
      [&] {
        CallResult r;
        const gchar* allProperties[] = {nullptr};
        call(peer, dest.c_str(), path.c_str(), "com.canonical.dbusmenu", "GetLayout",
             g_variant_new("(ii^as)", 0, -1, allProperties), r);
        if (r.reply == nullptr) return false;
        guint revision = 0;
        GVariant* layout = nullptr;
        g_variant_get(r.reply, "(u@(ia{sv}av))", &revision, &layout);
        root = parseMenuNode(layout);
        g_variant_unref(layout);
        return true;
      },
      10.0);
  return root;
}

inline bool sendMenuEvent(GDBusConnection* peer, const std::string& dest, const std::string& path,
                          int id, const char* event) {
  CallResult r;
  call(peer, dest.c_str(), path.c_str(), "com.canonical.dbusmenu", "Event",
       g_variant_new("(isvu)", id, event, g_variant_new_int32(0), 0u), r);
  return r.reply != nullptr;
}

inline bool sendAboutToShow(GDBusConnection* peer, const std::string& dest, const std::string& path,
                            int id) {
  CallResult r;
  call(peer, dest.c_str(), path.c_str(), "com.canonical.dbusmenu", "AboutToShow",
       g_variant_new("(i)", id), r);
  return r.reply != nullptr;
}

}  // namespace quorvel::testing
