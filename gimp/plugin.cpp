// The GIMP 2.10 plug-in: Filters > Enhance > Remove Camera Shake...
//
// The procedure plug-in-velmora-remove-shake takes the image, the layer and
// the settings; interactively they come from the dialog, from a script or
// `gimp -i -b` as arguments, and "Repeat" takes the last ones. The active
// layer is read at its precision, restored by the engine (the selection, if
// any, being where the blur is estimated) and written back as one undo
// step. GIMP's progress bar follows the job; its cancel button ends the
// plug-in process, and since nothing is written before the job has
// finished, the layer is then left as it was.
#include <libgimp/gimp.h>

#include <algorithm>
#include <optional>
#include <string>

#include "frontend/job_fit.h"
#include "gimp/dialog.h"
#include "gimp/job.h"
#include "gimp/layer.h"

namespace velmora::gimp {

namespace {

constexpr const char* kProcedure = "plug-in-velmora-remove-shake";

void Query() {
  static const GimpParamDef kArguments[] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("The image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("The layer to restore")},
      {GIMP_PDB_INT32, const_cast<gchar*>("blur-size"),
       const_cast<gchar*>("0: auto (found, up to a third of each side of the layer or selection, at most 121); "
                          "else the largest blur expected, odd, 3 to 121 (19 small, 31 medium, 51 large)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("estimator"), const_cast<gchar*>("0: classic, 1: sharp")},
      {GIMP_PDB_FLOAT, const_cast<gchar*>("smoothness"),
       const_cast<gchar*>("Weight of the smoothness prior, 0.0 to 0.2 (0.04)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("reduce-ringing"), const_cast<gchar*>("Suppress ringing (TRUE, FALSE)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("reduce-noise"),
       const_cast<gchar*>("The noise-robust solver (TRUE, FALSE)")},
      {GIMP_PDB_INT32, const_cast<gchar*>("protect-highlights"),
       const_cast<gchar*>("Take clipped lamps as lower bounds (TRUE, FALSE)")},
  };
  gimp_install_procedure(
      kProcedure, "Remove camera-shake blur without being told the blur",
      "Estimates the camera shake from the layer itself (from the selection when there is one) and restores "
      "the whole layer with it. Blur size 0 finds the size; otherwise it is the largest blur expected.",
      "Velmora", "Velmora", "2025", "Remove Camera _Shake...", "RGB*, GRAY*", GIMP_PLUGIN,
      G_N_ELEMENTS(kArguments), 0, kArguments, nullptr);
  gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Enhance");
}

// The job on the layer, GIMP's progress bar following it.
DeblurOutcome RunWithProgress(const DeblurRequest& request, const cv::Mat& picture) {
  gimp_progress_init("Removing camera shake");
  RunningJob job(request, picture);
  while (!job.WaitFor(100)) gimp_progress_update(std::max(0.0f, job.Progress()) / 100.0);
  gimp_progress_update(1.0);
  return job.Take();
}

// Restores the layer; the text that tells why not, or an empty one.
std::string Restore(gint32 image, gint32 drawable, const Settings& settings, const LayerPixels& layer,
                    const std::optional<DeblurRegion>& region, std::optional<DeblurOutcome> estimated) {
  std::string problem;
  const std::optional<DeblurRequest> request =
      RequestFor(settings, layer.picture.rows, layer.picture.cols, region, &problem);
  if (!request) return problem;
  const DeblurOutcome outcome = estimated ? std::move(*estimated) : RunWithProgress(*request, layer.picture);
  if (outcome.result != DeblurResult::kSucceeded) return OutcomeProblem(*request, outcome);
  WriteLayer(image, drawable, outcome.picture, layer);
  return {};
}

bool SettingsFromArguments(gint count, const GimpParam* arguments, Settings* s) {
  if (count != 9) return false;
  s->blurSize = arguments[3].data.d_int32;
  s->estimator = arguments[4].data.d_int32;
  s->smoothness = arguments[5].data.d_float;
  s->reduceRinging = arguments[6].data.d_int32 != 0;
  s->reduceNoise = arguments[7].data.d_int32 != 0;
  s->protectHighlights = arguments[8].data.d_int32 != 0;
  return true;
}

void Run(const gchar*, gint count, const GimpParam* arguments, gint* returnCount, GimpParam** returned) {
  static GimpParam values[2];
  static std::string message;
  *returnCount = 1;
  *returned = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  auto fail = [&](GimpPDBStatusType status, const std::string& text) {
    message = text;
    values[0].data.d_status = status;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = const_cast<gchar*>(message.c_str());
    *returnCount = 2;
  };
  if (count < 3) return fail(GIMP_PDB_CALLING_ERROR, "expected the run mode, the image and the layer");
  const auto mode = static_cast<GimpRunMode>(arguments[0].data.d_int32);
  const gint32 image = arguments[1].data.d_image, drawable = arguments[2].data.d_drawable;
  gegl_init(nullptr, nullptr);

  Settings settings;
  if (mode == GIMP_RUN_NONINTERACTIVE && !SettingsFromArguments(count, arguments, &settings))
    return fail(GIMP_PDB_CALLING_ERROR, "expected 9 arguments: run mode, image, layer, blur size, estimator, "
                                        "smoothness, reduce ringing, reduce noise, protect highlights");
  if (mode != GIMP_RUN_NONINTERACTIVE) gimp_get_data(kProcedure, &settings);
  if (const std::string problem = SettingsProblem(settings); !problem.empty())
    return fail(GIMP_PDB_CALLING_ERROR, problem);
  bool outside = false;
  const std::optional<DeblurRegion> region = SelectionRegion(image, drawable, &outside);
  if (outside) return fail(GIMP_PDB_EXECUTION_ERROR, "The selection does not overlap the layer.");
  const LayerPixels layer = ReadLayer(drawable);

  std::optional<DeblurOutcome> estimated;
  if (mode == GIMP_RUN_INTERACTIVE) {
    std::optional<DialogChoice> choice = RunDialog(settings, DialogSubject{&layer, region});
    if (!choice) return fail(GIMP_PDB_CANCEL, "cancelled");
    settings = choice->settings;
    estimated = std::move(choice->estimated);
  }
  const std::string problem = Restore(image, drawable, settings, layer, region, std::move(estimated));
  if (!problem.empty()) {
    if (mode == GIMP_RUN_INTERACTIVE) g_message("%s", problem.c_str());
    return fail(GIMP_PDB_EXECUTION_ERROR, problem);
  }
  if (mode == GIMP_RUN_INTERACTIVE) gimp_set_data(kProcedure, &settings, sizeof settings);
  if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
}

}  // namespace

}  // namespace velmora::gimp

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, velmora::gimp::Query, velmora::gimp::Run};

MAIN()
