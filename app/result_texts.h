// What a result page says of its job, in words: its caption while it runs
// and once it has ended, the tab's tooltip, and the box for a failed job.
// Pure functions of the job's description and outcome.
#pragma once

#include <QString>

#include "app/jobcontroller.h"

// What a result page's texts name of its job.
struct JobDescription {
  DeblurSettings settings;
  velmora::JobOptions options;
  QString kernelName;           // a loaded kernel's file name; empty: estimated
  bool regionSelected = false;  // the job started on the region below
  velmora::DeblurRegion region;
  // The blur size an Auto job found; 0 before its end and when none.
  int foundKernelHeight = 0;
  int foundKernelWidth = 0;
};

// "Smoothness = 0.04, Reduce Noise, ..." (rich text): the settings the job
// runs with, and an Auto job's size once found.
QString SettingsCaption(const JobDescription& job);

// The caption of a stopped job.
QString CancelledCaption(const JobDescription& job);

// The caption of an ended job: the settings, then the running time and
// where the job ran when that is not where it was asked to.
QString FinishedCaption(const JobDescription& job, const JobOutcome& outcome);

// The text of the box a job that ended without success shows; empty for a
// job that succeeded or was stopped.
QString FailureText(const JobOutcome& outcome);

// The result tab's tooltip: one line per setting of the job.
QString JobSummary(const JobDescription& job);
