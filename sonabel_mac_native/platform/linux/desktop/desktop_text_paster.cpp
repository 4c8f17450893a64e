// DesktopTextPaster: the clipboard side of pasting (see desktop_text_paster.h).
#include "platform/linux/desktop/desktop_text_paster.h"

#include <gtk/gtk.h>

#include <optional>
#include <utility>

namespace quorvel {

inline constexpr const char* kCopiedNotice = "Copied — press Ctrl+V to paste";
// An application may fetch the text in more than one format in a row: the earlier text goes
// back a moment after the first fetch. One that never fetches gets a second.
inline constexpr guint kRestoreAfterFetchMs = 100;
inline constexpr guint kRestoreUnfetchedMs = 1000;

struct DesktopTextPaster::Job {
  std::string text;
  bool primary = false;
  std::optional<std::string> earlier;
  std::optional<std::string> earlierPrimary;
  std::function<void()> handFocusBack;
  std::function<void(PasteOutcome)> done;
  bool keysSent = false;
  bool fetched = false;  // by the application, after the keystroke
  bool restored = false;
  int owned = 0;  // selections still holding our text
  guint timer = 0;
};

namespace {

using JobRef = std::shared_ptr<DesktopTextPaster::Job>;

std::optional<std::string> textOf(const gchar* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

void restore(const JobRef& job) {
  if (job->restored) return;
  job->restored = true;
  if (job->timer) g_source_remove(job->timer);
  job->timer = 0;
  // Only while the text is still ours: whatever another program put there since stays.
  if (job->owned == 0) return;
  if (job->earlier) {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), job->earlier->c_str(), -1);
  }
  if (job->primary && job->earlierPrimary) {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_PRIMARY), job->earlierPrimary->c_str(),
                           -1);
  }
}

void restoreAfter(const JobRef& job, guint ms) {
  if (job->restored) return;
  if (job->timer) g_source_remove(job->timer);
  job->timer = g_timeout_add_full(
      G_PRIORITY_DEFAULT, ms,
      [](gpointer data) -> gboolean {
        JobRef job = *static_cast<JobRef*>(data);
        job->timer = 0;
        restore(job);
        return G_SOURCE_REMOVE;
      },
      new JobRef(job), [](gpointer data) { delete static_cast<JobRef*>(data); });
}

bool offer(const JobRef& job, GdkAtom selection) {
  GtkTargetList* list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_text_targets(list, 0);
  gint count = 0;
  GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
  gtk_target_list_unref(list);
  bool ok = gtk_clipboard_set_with_data(
      gtk_clipboard_get(selection), targets, static_cast<guint>(count),
      [](GtkClipboard*, GtkSelectionData* data, guint, gpointer owner) {
        JobRef job = *static_cast<JobRef*>(owner);
        gtk_selection_data_set_text(data, job->text.c_str(), -1);
        if (job->keysSent && !job->fetched) {
          job->fetched = true;
          restoreAfter(job, kRestoreAfterFetchMs);
        }
      },
      [](GtkClipboard*, gpointer owner) {
        auto* ref = static_cast<JobRef*>(owner);
        --(*ref)->owned;
        delete ref;
      },
      new JobRef(job));
  gtk_target_table_free(targets, count);
  if (ok) ++job->owned;
  return ok;
}

void notifyCopied() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", "Notify",
                         g_variant_new("(susssasa{sv}i)", "Quorvel", 0u, "quorvel", kCopiedNotice,
                                       "", &actions, &hints, -1),
                         nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
  g_object_unref(bus);
}

// wtype types through the virtual-keyboard protocol (wlroots compositors). It first waits a
// moment for the compositor to give the focus back to the window under the closed popover.
class WtypeKeystroke final : public PasteKeystroke {
 public:
  void send(std::function<void(bool)> done) override {
    gchar* argv[] = {
        const_cast<gchar*>("wtype"), const_cast<gchar*>("-s"),   const_cast<gchar*>("150"),
        const_cast<gchar*>("-M"),    const_cast<gchar*>("ctrl"), const_cast<gchar*>("v"),
        const_cast<gchar*>("-m"),    const_cast<gchar*>("ctrl"), nullptr};
    GPid pid = 0;
    if (!g_spawn_async(nullptr, argv, nullptr,
                       GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                   G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                       nullptr, nullptr, &pid, nullptr)) {
      done(false);
      return;
    }
    g_child_watch_add(
        pid,
        [](GPid child, gint status, gpointer data) {
          auto* callback = static_cast<std::function<void(bool)>*>(data);
          (*callback)(g_spawn_check_wait_status(status, nullptr));
          delete callback;
          g_spawn_close_pid(child);
        },
        new std::function<void(bool)>(std::move(done)));
  }
};

}  // namespace

std::unique_ptr<PasteKeystroke> makePortalKeystroke();
std::unique_ptr<PasteKeystroke> makeXTestKeystroke();

std::vector<std::unique_ptr<PasteKeystroke>> x11PasteKeystrokes() {
  std::vector<std::unique_ptr<PasteKeystroke>> ways;
  ways.push_back(makeXTestKeystroke());
  return ways;
}

std::vector<std::unique_ptr<PasteKeystroke>> waylandPasteKeystrokes() {
  std::vector<std::unique_ptr<PasteKeystroke>> ways;
  ways.push_back(makePortalKeystroke());
  ways.push_back(std::make_unique<WtypeKeystroke>());
  return ways;
}

DesktopTextPaster::DesktopTextPaster(std::vector<std::unique_ptr<PasteKeystroke>> keystrokes)
    : keystrokes_(std::move(keystrokes)) {}

DesktopTextPaster::~DesktopTextPaster() = default;

bool DesktopTextPaster::noteFocus() {
  return keystrokes_.empty() || keystrokes_.front()->noteFocus();
}

void DesktopTextPaster::paste(const std::string& text, std::function<void()> handFocusBack,
                              std::function<void(PasteOutcome)> done) {
  auto job = std::make_shared<Job>();
  job->text = text;
  job->handFocusBack = std::move(handFocusBack);
  job->done = std::move(done);
  job->primary = !keystrokes_.empty() && keystrokes_.front()->pastesPrimary();
  // The earlier texts first (each read answers on the main loop), then our own offer.
  struct Step {
    DesktopTextPaster* self;
    JobRef job;
  };
  static constexpr auto offerAndSend = [](Step* step) {
    std::unique_ptr<Step> owned(step);
    const JobRef& job = step->job;
    if (!offer(job, GDK_SELECTION_CLIPBOARD) ||
        (job->primary && !offer(job, GDK_SELECTION_PRIMARY))) {
      job->done(PasteOutcome::Failed);
      return;
    }
    if (job->handFocusBack) job->handFocusBack();
    step->self->sendFrom(0, job);
  };
  gtk_clipboard_request_text(
      gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
      [](GtkClipboard*, const gchar* text, gpointer data) {
        auto* step = static_cast<Step*>(data);
        step->job->earlier = textOf(text);
        if (!step->job->primary) return offerAndSend(step);
        gtk_clipboard_request_text(
            gtk_clipboard_get(GDK_SELECTION_PRIMARY),
            [](GtkClipboard*, const gchar* primary, gpointer data) {
              auto* step = static_cast<Step*>(data);
              step->job->earlierPrimary = textOf(primary);
              offerAndSend(step);
            },
            step);
      },
      new Step{this, job});
}

void DesktopTextPaster::sendFrom(size_t index, std::shared_ptr<Job> job) {
  if (index >= keystrokes_.size()) {
    // No way to type here: the text stays on the clipboard for the user to paste.
    notifyCopied();
    job->done(PasteOutcome::Copied);
    return;
  }
  keystrokes_[index]->send([this, index, job](bool sent) {
    if (!sent) {
      sendFrom(index + 1, job);
      return;
    }
    job->keysSent = true;
    restoreAfter(job, kRestoreUnfetchedMs);
    job->done(PasteOutcome::Pasted);
  });
}

}  // namespace quorvel
