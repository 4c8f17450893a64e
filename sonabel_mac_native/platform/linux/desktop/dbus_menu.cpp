// The exported tray menu; see dbus_menu.h for what it covers.
#include "platform/linux/desktop/dbus_menu.h"

#include <utility>

#include "platform/linux/desktop/menu_rendering.h"

namespace quorvel::tray {
namespace {

void setShortcut(DbusmenuMenuitem* mi, const std::string& accelerator) {
  const std::vector<std::string> parts = acceleratorParts(accelerator);
  if (parts.empty()) return;
  GVariantBuilder one;
  g_variant_builder_init(&one, G_VARIANT_TYPE("as"));
  for (const std::string& p : parts) g_variant_builder_add(&one, "s", p.c_str());
  GVariantBuilder all;
  g_variant_builder_init(&all, G_VARIANT_TYPE("aas"));
  g_variant_builder_add_value(&all, g_variant_builder_end(&one));
  dbusmenu_menuitem_property_set_variant(mi, DBUSMENU_MENUITEM_PROP_SHORTCUT,
                                         g_variant_builder_end(&all));
}

}  // namespace

DbusMenu::DbusMenu(const std::string& objectPath) : self_(std::make_shared<DbusMenu*>(this)) {
  server_ = dbusmenu_server_new(objectPath.c_str());
  root_ = dbusmenu_menuitem_new();
  g_signal_connect(root_, DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW, G_CALLBACK(onAboutToShow), this);
  dbusmenu_server_set_root(server_, root_);
}

DbusMenu::~DbusMenu() {
  g_signal_handlers_disconnect_by_data(root_, this);
  GList* children = dbusmenu_menuitem_take_children(root_);
  g_list_free_full(children, g_object_unref);
  g_object_unref(server_);
  g_object_unref(root_);
}

void DbusMenu::setProvider(std::function<MenuModel()> provider) {
  provider_ = std::move(provider);
  rebuild();
}

void DbusMenu::setLeadingItems(MenuModel items) {
  leading_ = std::move(items);
  rebuild();
}

void DbusMenu::rebuild() {
  GList* old = dbusmenu_menuitem_take_children(root_);
  g_list_free_full(old, g_object_unref);
  MenuModel model = leading_;
  if (provider_) {
    MenuModel provided = provider_();
    model.insert(model.end(), std::make_move_iterator(provided.begin()),
                 std::make_move_iterator(provided.end()));
  }
  append(root_, model);
}

void DbusMenu::append(DbusmenuMenuitem* parent, const MenuModel& model) {
  const bool checkBoxes = menuShowsCheckBoxes(model);
  for (const MenuItem& item : model) {
    DbusmenuMenuitem* mi = dbusmenu_menuitem_new();
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        dbusmenu_menuitem_property_set(mi, DBUSMENU_MENUITEM_PROP_TYPE,
                                       DBUSMENU_CLIENT_TYPES_SEPARATOR);
        break;
      case MenuItem::Kind::Submenu:
        dbusmenu_menuitem_property_set(mi, DBUSMENU_MENUITEM_PROP_LABEL, item.title.c_str());
        dbusmenu_menuitem_property_set(mi, DBUSMENU_MENUITEM_PROP_CHILD_DISPLAY,
                                       DBUSMENU_MENUITEM_CHILD_DISPLAY_SUBMENU);
        append(mi, item.submenu);
        break;
      case MenuItem::Kind::Action:
        dbusmenu_menuitem_property_set(mi, DBUSMENU_MENUITEM_PROP_LABEL, item.title.c_str());
        if (checkBoxes || item.checkable) {
          dbusmenu_menuitem_property_set(mi, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE,
                                         DBUSMENU_MENUITEM_TOGGLE_CHECK);
          dbusmenu_menuitem_property_set_int(mi, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                             item.checked
                                                 ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED
                                                 : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
        }
        setShortcut(mi, item.accelerator);
        if (item.action) {
          // The action may change what the menu shows (a check mark), so the tree follows at
          // once even for hosts that never announce that they are about to show it.
          std::weak_ptr<DbusMenu*> weak = self_;
          connectMenuAction(mi, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, item.action, [weak] {
            if (auto alive = weak.lock()) (*alive)->rebuild();
          });
        }
        break;
    }
    dbusmenu_menuitem_child_append(parent, mi);
    g_object_unref(mi);
  }
}

void DbusMenu::onAboutToShow(DbusmenuMenuitem*, gpointer self) {
  static_cast<DbusMenu*>(self)->rebuild();
}

}  // namespace quorvel::tray
