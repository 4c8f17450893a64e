// The test probe (see test_probe.h). Exported on g_bus_get's shared session connection, so a
// test reaches it at the bus name of the program's tray item.
#include "platform/linux/desktop/test_probe.h"

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/desktop/webkit_page_view.h"

namespace quorvel {

namespace {

constexpr char kIntrospection[] = R"(<node>
  <interface name="app.quorvel.TestProbe">
    <method name="Eval"><arg type="s" name="script" direction="in"/>
      <arg type="s" name="json" direction="out"/></method>
    <method name="PopoverShown"><arg type="b" name="shown" direction="out"/></method>
    <method name="ClosePopover"/>
  </interface>
</node>)";

struct Probe {
  std::shared_ptr<WebKitPageView> view;
  std::function<bool()> popoverShown;
  std::function<void()> closePopover;
};

void onCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  if (std::strcmp(method, "PopoverShown") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", probe->popoverShown()));
    return;
  }
  if (std::strcmp(method, "ClosePopover") == 0) {
    probe->closePopover();
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  const char* script = nullptr;
  g_variant_get(parameters, "(&s)", &script);
  probe->view->evaluateForValue(
      script, [invocation](std::optional<std::string> json, std::optional<std::string> error) {
        if (error) {
          g_dbus_method_invocation_return_dbus_error(invocation, "app.quorvel.TestProbe.Error",
                                                     error->c_str());
        } else {
          g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", json->c_str()));
        }
      });
}

}  // namespace

bool testProbeRequested() {
  const char* value = std::getenv("QUORVEL_TEST_PROBE");
  return value && std::strcmp(value, "1") == 0;
}

void installTestProbe(std::shared_ptr<WebKitPageView> view, std::function<bool()> popoverShown,
                      std::function<void()> closePopover) {
  if (!view) return;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {}};
  // Lives as long as the process, like the program's other registrations.
  auto* probe = new Probe{std::move(view), std::move(popoverShown), std::move(closePopover)};
  g_dbus_connection_register_object(bus, "/app/quorvel/TestProbe", node->interfaces[0], &vtable,
                                    probe, nullptr, nullptr);
  g_dbus_node_info_unref(node);
}

}  // namespace quorvel
