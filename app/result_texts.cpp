#include "app/result_texts.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString Tr(const char* text) { return QCoreApplication::translate("ResultPage", text); }

bool Auto(const JobDescription& job) { return job.options.findBlurSize && job.kernelName.isEmpty(); }

}  // namespace

QString SettingsCaption(const JobDescription& job) {
  QString text = QString::asprintf("Smoothness = %.2f", job.settings.smoothness);
  if (job.settings.reduceRinging > 0) text += QStringLiteral(", Reduce Ringing");
  if (job.settings.reduceNoise > 0) text += QStringLiteral(", Reduce Noise");
  if (job.options.highlights == velmora::Highlights::kModel) text += Tr(", Protect Highlights");
  // The default estimator goes unnamed, as it always has.
  if (!job.kernelName.isEmpty())
    text += Tr(", Kernel: %1").arg(job.kernelName.toHtmlEscaped());
  else if (job.options.estimator == velmora::KernelEstimator::kSharp)
    text += Tr(", Sharp Estimator");
  // An Auto job says so until it has found the size, then gives the size.
  if (Auto(job)) {
    if (job.foundKernelHeight > 0)
      text += Tr("<br />Blur size found: %1 x %2").arg(job.foundKernelHeight).arg(job.foundKernelWidth);
    else
      text += Tr(", Auto Blur Size");
  }
  return text;
}

QString CancelledCaption(const JobDescription& job) { return SettingsCaption(job) + Tr("<br />Cancelled"); }

QString FinishedCaption(const JobDescription& job, const JobOutcome& outcome) {
  QString caption = SettingsCaption(job);
  if (Auto(job) && job.foundKernelHeight == 0 && outcome.status == velmora::kJobEstimationFailed)
    caption += Tr("<br />No blur size found");
  caption += QString::asprintf("<br />Running time %.3fs", outcome.seconds);
  // A job that asked for the GPU and ran on the CPU says so where its time is.
  if (outcome.status != velmora::kJobGpuFailed && !outcome.processorNotice.empty())
    caption += "<br />" + QString::fromStdString(outcome.processorNotice).toHtmlEscaped();
  return caption;
}

QString FailureText(const JobOutcome& outcome) {
  switch (outcome.status) {
    case velmora::kJobSucceeded:
    case velmora::kJobCancelled:
      return QString();
    case velmora::kJobEstimationFailed:
      return QCoreApplication::translate("Job", velmora::kInsufficientInformation);
    case velmora::kJobOutOfMemory:
      return outcome.memoryShortfall.empty()
                 ? Tr("There is not enough memory to deblur this picture.")
                 : Tr("There is not enough memory to deblur this picture: it %1.")
                       .arg(QString::fromStdString(outcome.memoryShortfall));
    case velmora::kJobInvalidInput:
      return Tr("This picture, region or blur size cannot be deblurred.\n\n"
                "Please choose a larger region or a smaller blur size.");
    case velmora::kJobGpuFailed:
      return Tr("The GPU failed during this job:\n%1\n\nLater jobs run on the CPU.")
          .arg(QString::fromStdString(outcome.processorNotice));
    case velmora::kJobNoMode:
      return Tr("The job ended without a result.");
    default:
      return Tr("An internal error stopped the job.");
  }
}

QString JobSummary(const JobDescription& job) {
  const DeblurSettings& s = job.settings;
  QStringList lines;
  if (job.options.findBlurSize && job.foundKernelHeight > 0)
    lines << Tr("Blur size found: %1 x %2 px").arg(job.foundKernelHeight).arg(job.foundKernelWidth);
  else if (job.options.findBlurSize)
    lines << Tr("Blur size: Auto, at most %1 x %2 px").arg(s.kernelHeight).arg(s.kernelWidth);
  else if (job.kernelName.isEmpty())
    lines << Tr("Blur size %1 x %2 px").arg(s.kernelHeight).arg(s.kernelWidth);
  if (job.regionSelected)
    lines << Tr("Region %1 x %2 % of the picture at %3, %4 %")
                 .arg(qRound(job.region.width * 100))
                 .arg(qRound(job.region.height * 100))
                 .arg(qRound(job.region.x * 100))
                 .arg(qRound(job.region.y * 100));
  else
    lines << Tr("Whole picture");
  if (!job.kernelName.isEmpty())
    lines << Tr("Kernel: %1").arg(job.kernelName);
  else
    lines << (job.options.estimator == velmora::KernelEstimator::kSharp ? Tr("Estimator: Sharp")
                                                                        : Tr("Estimator: Classic"));
  lines << Tr("Smoothness %1").arg(QString::asprintf("%.2f", s.smoothness));
  lines << (s.reduceRinging ? Tr("Reduce Ringing: on") : Tr("Reduce Ringing: off"));
  lines << (s.reduceNoise ? Tr("Reduce Noise: on") : Tr("Reduce Noise: off"));
  lines << (job.options.highlights == velmora::Highlights::kModel ? Tr("Protect Highlights: on")
                                                                  : Tr("Protect Highlights: off"));
  lines << (s.useCpu ? Tr("Processor: CPU") : Tr("Processor: GPU"));
  return lines.join(QLatin1Char('\n'));
}
