#include "gimp/dialog.h"

#include <libgimp/gimpui.h>

#include <algorithm>
#include <string>

#include "frontend/job_fit.h"
#include "frontend/job_rules.h"
#include "gimp/kernel_preview.h"

namespace velmora::gimp {

namespace {

constexpr gint kResponseEstimate = 1;
constexpr int kPreviewSide = 160;
constexpr int kCustom = 4;  // the blur-size list's last entry

struct Widgets {
  GtkWidget* dialog = nullptr;
  GtkWidget* settingsBox = nullptr;
  GtkWidget* blurCombo = nullptr;
  GtkWidget* customSpin = nullptr;
  GtkWidget* estimatorCombo = nullptr;
  GtkObject* smoothness = nullptr;
  GtkWidget* ringing = nullptr;
  GtkWidget* noise = nullptr;
  GtkWidget* highlights = nullptr;
  GtkWidget* kernelImage = nullptr;
  GtkWidget* caption = nullptr;
  GtkWidget* progress = nullptr;
};

int BlurIndex(gint32 blurSize) {
  if (blurSize == 0) return 0;
  for (int i = 0; i < 3; ++i)
    if (blurSize == kBlurPresets[i]) return i + 1;
  return kCustom;
}

void OnBlurChanged(GtkComboBox* combo, gpointer data) {
  gtk_widget_set_sensitive(static_cast<GtkWidget*>(data), gtk_combo_box_get_active(combo) == kCustom);
}

// A blur size is odd: an even one typed is taken up to the next.
void OnCustomChanged(GtkSpinButton* spin, gpointer) {
  const int value = gtk_spin_button_get_value_as_int(spin);
  if (value % 2 == 0) gtk_spin_button_set_value(spin, value + 1);
}

GtkWidget* Label(const char* text) {
  GtkWidget* label = gtk_label_new_with_mnemonic(text);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
  return label;
}

void AddBlurSize(Widgets* w, GtkTable* table, const Settings& s) {
  w->blurCombo = gtk_combo_box_text_new();
  const char* const names[] = {"Auto", "Small (19 px)", "Medium (31 px)", "Large (51 px)", "Custom"};
  for (const char* name : names) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w->blurCombo), name);
  gimp_help_set_help_data(w->blurCombo,
                          "Auto finds the blur size, up to a third of each side of the layer (or selection) "
                          "and 121 pixels; the others give the largest blur expected.",
                          nullptr);
  w->customSpin = gtk_spin_button_new_with_range(3, 121, 2);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(w->customSpin), s.blurSize == 0 ? 19 : s.blurSize);
  g_signal_connect(w->customSpin, "value-changed", G_CALLBACK(OnCustomChanged), nullptr);
  g_signal_connect(w->blurCombo, "changed", G_CALLBACK(OnBlurChanged), w->customSpin);
  gtk_combo_box_set_active(GTK_COMBO_BOX(w->blurCombo), BlurIndex(s.blurSize));
  OnBlurChanged(GTK_COMBO_BOX(w->blurCombo), w->customSpin);
  GtkWidget* row = gtk_hbox_new(FALSE, 6);
  gtk_box_pack_start(GTK_BOX(row), w->blurCombo, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), w->customSpin, FALSE, FALSE, 0);
  gtk_table_attach(table, Label("_Blur size:"), 0, 1, 0, 1, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(table, row, 1, 3, 0, 1, GTK_FILL, GTK_FILL, 0, 0);
}

void AddEstimator(Widgets* w, GtkTable* table, const Settings& s) {
  w->estimatorCombo = gtk_combo_box_text_new();
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w->estimatorCombo), "Classic");
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w->estimatorCombo), "Sharp");
  gtk_combo_box_set_active(GTK_COMBO_BOX(w->estimatorCombo), s.estimator == 1 ? 1 : 0);
  gimp_help_set_help_data(w->estimatorCombo,
                          "Classic: fast, good on small shakes and textured subjects. Sharp: for long, thin "
                          "or curved shakes, double edges and smeared trails.",
                          nullptr);
  gtk_table_attach(table, Label("_Estimator:"), 0, 1, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
  gtk_table_attach(table, w->estimatorCombo, 1, 3, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
}

GtkWidget* Check(const char* text, gint32 value, const char* help) {
  GtkWidget* check = gtk_check_button_new_with_mnemonic(text);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), value != 0);
  gimp_help_set_help_data(check, help, nullptr);
  return check;
}

GtkWidget* SettingsBox(Widgets* w, const Settings& s, const DialogSubject& subject) {
  GtkWidget* box = gtk_vbox_new(FALSE, 6);
  GtkWidget* table = gtk_table_new(3, 3, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 6);
  gtk_table_set_row_spacings(GTK_TABLE(table), 6);
  AddBlurSize(w, GTK_TABLE(table), s);
  AddEstimator(w, GTK_TABLE(table), s);
  w->smoothness = gimp_scale_entry_new(GTK_TABLE(table), 0, 2, "_Smoothness:", 120, 5, s.smoothness, 0.0, 0.2,
                                       0.01, 0.05, 2, TRUE, 0.0, 0.0,
                                       "More gives a smoother result: less noise, less fine detail.", nullptr);
  gtk_box_pack_start(GTK_BOX(box), table, FALSE, FALSE, 0);
  w->ringing = Check("Reduce _Ringing", s.reduceRinging, "A second, smoother solve against ringing near strong edges.");
  w->noise = Check("Reduce _Noise", s.reduceNoise, "The noise-robust solver, for noisy pictures.");
  w->highlights = Check("_Protect Highlights", s.protectHighlights,
                        "Clipped lamps in night pictures are taken as \"at least this bright\".");
  for (GtkWidget* check : {w->ringing, w->noise, w->highlights}) gtk_box_pack_start(GTK_BOX(box), check, FALSE, FALSE, 0);
  GtkWidget* where = Label(subject.region ? "The blur is estimated on the selection;\nthe whole layer is restored with it."
                                          : "The blur is estimated on the whole layer.");
  gtk_box_pack_start(GTK_BOX(box), where, FALSE, FALSE, 0);
  return box;
}

GtkWidget* KernelFrame(Widgets* w) {
  GtkWidget* frame = gimp_frame_new("Estimated kernel");
  GtkWidget* box = gtk_vbox_new(FALSE, 6);
  w->kernelImage = gtk_image_new();
  gtk_widget_set_size_request(w->kernelImage, kPreviewSide, kPreviewSide);
  w->caption = gtk_label_new("Estimate shows the kernel here.");
  gtk_label_set_line_wrap(GTK_LABEL(w->caption), TRUE);
  gtk_widget_set_size_request(w->caption, kPreviewSide + 40, -1);
  gtk_box_pack_start(GTK_BOX(box), w->kernelImage, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), w->caption, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(frame), box);
  return frame;
}

void Build(Widgets* w, const Settings& s, const DialogSubject& subject) {
  w->dialog = gimp_dialog_new("Remove Camera Shake", "velmora-remove-shake", nullptr, GtkDialogFlags(0),
                              gimp_standard_help_func, "plug-in-velmora-remove-shake", "_Cancel",
                              GTK_RESPONSE_CANCEL, "_Estimate", kResponseEstimate, "_OK", GTK_RESPONSE_OK, nullptr);
  gimp_window_set_transient(GTK_WINDOW(w->dialog));
  GtkWidget* main = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(main), 12);
  GtkWidget* columns = gtk_hbox_new(FALSE, 12);
  w->settingsBox = SettingsBox(w, s, subject);
  gtk_box_pack_start(GTK_BOX(columns), w->settingsBox, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(columns), KernelFrame(w), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(main), columns, TRUE, TRUE, 0);
  w->progress = gtk_progress_bar_new();
  gtk_box_pack_start(GTK_BOX(main), w->progress, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(w->dialog))), main, TRUE, TRUE, 0);
  gtk_widget_show_all(w->dialog);
  OnBlurChanged(GTK_COMBO_BOX(w->blurCombo), w->customSpin);
}

Settings Read(const Widgets& w) {
  Settings s;
  const int index = gtk_combo_box_get_active(GTK_COMBO_BOX(w.blurCombo));
  s.blurSize = index == 0 ? 0
               : index == kCustom ? gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(w.customSpin))
                                  : kBlurPresets[index - 1];
  s.estimator = gtk_combo_box_get_active(GTK_COMBO_BOX(w.estimatorCombo)) == 1 ? 1 : 0;
  s.smoothness = gtk_adjustment_get_value(GTK_ADJUSTMENT(w.smoothness));
  s.reduceRinging = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.ringing));
  s.reduceNoise = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.noise));
  s.protectHighlights = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.highlights));
  return s;
}

// The job run in the dialog: its progress polled every 100 ms, Cancel (or
// closing the window) stops it.
struct DialogRun {
  RunningJob* job;
  GMainLoop* loop;
  Widgets* widgets;
};

gboolean Poll(gpointer data) {
  auto* run = static_cast<DialogRun*>(data);
  if (run->job->WaitFor(0)) {
    g_main_loop_quit(run->loop);
    return FALSE;
  }
  const double done = std::max(0.0f, run->job->Progress()) / 100.0;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(run->widgets->progress), done);
  gimp_progress_update(done);
  return TRUE;
}

void OnResponseWhileRunning(GtkDialog*, gint response, gpointer data) {
  if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT)
    static_cast<DialogRun*>(data)->job->Cancel();
}

void SetRunning(Widgets* w, bool running) {
  gtk_widget_set_sensitive(w->settingsBox, !running);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(w->dialog), kResponseEstimate, !running);
  gtk_dialog_set_response_sensitive(GTK_DIALOG(w->dialog), GTK_RESPONSE_OK, !running);
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(w->progress), running ? "Estimating the blur..." : "");
  if (!running) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w->progress), 0.0);
}

// Runs the job for the settings shown; the outcome when it succeeded.
std::optional<DeblurOutcome> Estimate(Widgets* w, const Settings& s, const DialogSubject& subject) {
  const cv::Mat& picture = subject.layer->picture;
  std::string problem;
  const std::optional<DeblurRequest> request = RequestFor(s, picture.rows, picture.cols, subject.region, &problem);
  if (!request) {
    gtk_label_set_text(GTK_LABEL(w->caption), problem.c_str());
    return std::nullopt;
  }
  SetRunning(w, true);
  gimp_progress_init("Removing camera shake");
  RunningJob job(*request, picture);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  DialogRun run{&job, loop, w};
  const gulong handler = g_signal_connect(w->dialog, "response", G_CALLBACK(OnResponseWhileRunning), &run);
  g_timeout_add(100, Poll, &run);
  g_main_loop_run(loop);
  g_signal_handler_disconnect(w->dialog, handler);
  g_main_loop_unref(loop);
  DeblurOutcome outcome = job.Take();
  gimp_progress_end();
  SetRunning(w, false);
  GdkPixbuf* preview = KernelPixbuf(outcome.kernel, kPreviewSide);
  gtk_image_set_from_pixbuf(GTK_IMAGE(w->kernelImage), preview);
  if (preview) g_object_unref(preview);
  const bool succeeded = outcome.result == DeblurResult::kSucceeded;
  const std::string caption = succeeded ? OutcomeCaption(outcome) : OutcomeProblem(*request, outcome);
  gtk_label_set_text(GTK_LABEL(w->caption), caption.c_str());
  if (!succeeded) return std::nullopt;
  return outcome;
}

}  // namespace

std::optional<DialogChoice> RunDialog(const Settings& start, const DialogSubject& subject) {
  gimp_ui_init("velmora-remove-shake", FALSE);
  Widgets w;
  Build(&w, start, subject);
  std::optional<DialogChoice> choice;
  std::optional<DialogChoice> estimated;  // the last job that succeeded, with its settings
  for (;;) {
    const gint response = gimp_dialog_run(GIMP_DIALOG(w.dialog));
    if (response == kResponseEstimate) {
      const Settings s = Read(w);
      std::optional<DeblurOutcome> outcome = Estimate(&w, s, subject);
      estimated = outcome ? std::optional<DialogChoice>(DialogChoice{s, std::move(outcome)}) : std::nullopt;
      continue;
    }
    if (response == GTK_RESPONSE_OK) {
      choice = DialogChoice{Read(w), std::nullopt};
      if (estimated && estimated->settings == choice->settings) choice = std::move(estimated);
    }
    break;
  }
  gtk_widget_destroy(w.dialog);
  return choice;
}

}  // namespace velmora::gimp
