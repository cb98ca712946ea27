// The seams between the pages and the engine: the job controller as pages
// hear it (by signals only), the request Run builds from a document, and
// the words a result page shows for its job.
#include <opencv2/imgproc.hpp>

#include <vector>

#include "app/documentmodel.h"
#include "app/jobcontroller.h"
#include "app/next_job.h"
#include "app/result_texts.h"
#include "tests/app/gui_test_support.h"
#include "tools/shake.h"

namespace {

// Everything a controller said, in order.
struct Heard {
  explicit Heard(JobController* jobs) {
    QObject::connect(jobs, &JobController::runningChanged, [this](bool on) { running.push_back(on); });
    QObject::connect(jobs, &JobController::progressed, [this](int id, float percent) {
      progressIds.push_back(id);
      progress.push_back(percent);
    });
    QObject::connect(jobs, &JobController::jobFinished, [this](int id, const JobOutcome& outcome) {
      finishedIds.push_back(id);
      outcomes.push_back(outcome);
    });
  }
  std::vector<bool> running;
  std::vector<int> progressIds;
  std::vector<float> progress;
  std::vector<int> finishedIds;
  std::vector<JobOutcome> outcomes;
};

JobRequest Request(const cv::Mat& picture, const char* mode) {
  JobRequest request;
  request.picture = picture;
  request.mode = mode;
  return request;
}

DocumentModel* Document(const cv::Mat& picture) {
  auto* model = new DocumentModel;
  model->setPicture(picture);
  return model;
}

}  // namespace

class JobsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<ScratchFolder> folder;  // the jobs write kernel.png here

 private slots:
  void init() { folder = std::make_unique<ScratchFolder>(); }
  void cleanup() { folder.reset(); }

  // Running, then one outcome for the job's number, then not running; a
  // second start meanwhile is refused and changes nothing.
  void aRunIsHeardOfBySignals() {
    JobController jobs;
    Heard heard(&jobs);
    const cv::Mat picture = BlurredTestPicture(240, 240, 7);
    const int id = jobs.start(Request(picture, velmora::kModeComplete));
    QVERIFY(id != 0);
    QVERIFY(jobs.running());
    QCOMPARE(heard.running, std::vector<bool>{true});
    QCOMPARE(jobs.start(Request(picture, velmora::kModeComplete)), 0);
    QCOMPARE(heard.running, std::vector<bool>{true});
    QTRY_VERIFY_WITH_TIMEOUT(!heard.outcomes.empty(), 60000);
    QCOMPARE(heard.running, (std::vector<bool>{true, false}));
    QCOMPARE(heard.finishedIds, std::vector<int>{id});
    const JobOutcome& outcome = heard.outcomes[0];
    QCOMPARE(outcome.status, static_cast<int>(velmora::kJobSucceeded));
    QCOMPARE(outcome.result.size(), picture.size());
    QVERIFY(cv::norm(outcome.result, picture, cv::NORM_L1) > 0);
    QCOMPARE(outcome.kernel.size(), cv::Size(19, 19));
    for (const int heardId : heard.progressIds) QCOMPARE(heardId, id);
    // Nothing more arrives for an ended job.
    QTest::qWait(250);
    QCOMPARE(heard.outcomes.size(), size_t{1});
  }

  // The whole picture after a region runs on the region's worker: the same
  // number, the kernel the region's run found, a picture changed outside
  // the region too.
  void theRestOfThePictureRunsOnTheRegionsWorker() {
    JobController jobs;
    Heard heard(&jobs);
    JobRequest request = Request(BlurredTestPicture(400, 400, 9), velmora::kModePartial);
    request.region = {0.1, 0.1, 0.7, 0.7};
    const int id = jobs.start(request);
    QTRY_VERIFY_WITH_TIMEOUT(heard.outcomes.size() == 1, 60000);
    const JobOutcome partial = heard.outcomes[0];
    QCOMPARE(partial.status, static_cast<int>(velmora::kJobSucceeded));
    const cv::Mat partialPixels = partial.result.clone();

    QVERIFY(!jobs.runRemaining(id + 1));  // no such job
    QVERIFY(jobs.runRemaining(id));
    QVERIFY(jobs.running());
    QTRY_VERIFY_WITH_TIMEOUT(heard.outcomes.size() == 2, 60000);
    QCOMPARE(heard.finishedIds, (std::vector<int>{id, id}));
    const JobOutcome& whole = heard.outcomes[1];
    QCOMPARE(whole.status, static_cast<int>(velmora::kJobSucceeded));
    QCOMPARE(cv::norm(whole.kernel, partial.kernel, cv::NORM_INF), 0.0);
    const cv::Rect corner(0, 0, 30, 30);  // outside the region
    QVERIFY(cv::norm(whole.result(corner), partial.result(corner), cv::NORM_L1) > 0);
    // The first outcome was a copy: the second run did not write into it.
    QCOMPARE(cv::norm(partial.result, partialPixels, cv::NORM_INF), 0.0);
  }

  // A stop asked at once ends the job cancelled, with its number; a job
  // with progress reports it for its own number only.
  void cancelledAndProgressingJobs() {
    JobController jobs;
    Heard heard(&jobs);
    const int stopped = jobs.start(Request(BlurredTestPicture(420, 420, 9), velmora::kModeComplete));
    jobs.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(!heard.outcomes.empty(), 60000);
    QCOMPARE(heard.finishedIds, std::vector<int>{stopped});
    QCOMPARE(heard.outcomes[0].status, static_cast<int>(velmora::kJobCancelled));
    QVERIFY(!jobs.running());
    // What the first job said before it stopped (a slow build polls it) is
    // not the second's.
    heard.progress.clear();
    heard.progressIds.clear();

    JobRequest large = Request(BlurredTestPicture(1000, 1000, 9), velmora::kModeComplete);
    large.settings.kernelHeight = large.settings.kernelWidth = 51;
    const int id = jobs.start(large);
    QVERIFY(id != stopped);
    QTRY_VERIFY_WITH_TIMEOUT(!heard.progress.empty() && heard.progress.back() >= 0.0f, 30000);
    for (const int heardId : heard.progressIds) QCOMPARE(heardId, id);
    for (const float percent : heard.progress) QVERIFY(percent <= 100.0f);
    jobs.cancelAndWait();  // heard at once, not later
    QCOMPARE(heard.finishedIds, (std::vector<int>{stopped, id}));
    QCOMPARE(heard.outcomes[1].status, static_cast<int>(velmora::kJobCancelled));
    QVERIFY(!jobs.running());
  }

  // What the worker was given is what the request said; a released job
  // is gone, and releasing a running one stops it without an outcome.
  void workersFollowTheirRequestsAndGoWhenReleased() {
    JobController jobs;
    Heard heard(&jobs);
    JobRequest request = Request(BlurredTestPicture(1000, 1000, 9), velmora::kModeComplete);
    request.options.estimator = velmora::KernelEstimator::kSharp;
    request.options.highlights = velmora::Highlights::kModel;
    const int id = jobs.start(request);
    QVERIFY(jobs.options(id));
    QCOMPARE(jobs.options(id)->estimator, velmora::KernelEstimator::kSharp);
    QCOMPARE(jobs.options(id)->highlights, velmora::Highlights::kModel);
    QVERIFY(!jobs.options(id + 1));

    jobs.release(id);
    QVERIFY(!jobs.running());
    QVERIFY(!jobs.options(id));
    QVERIFY(!jobs.runRemaining(id));
    QTRY_COMPARE(heard.running, (std::vector<bool>{true, false}));
    QVERIFY(heard.outcomes.empty());
    QVERIFY(jobs.start(Request(BlurredTestPicture(240, 240, 7), velmora::kModeComplete)) != 0);
    QTRY_VERIFY_WITH_TIMEOUT(heard.outcomes.size() == 1, 60000);
  }

  void runAsksForWhatTheDocumentHolds() {
    std::unique_ptr<DocumentModel> model(Document(TestPicture(300, 360)));
    JobRequest request;
    QVERIFY(PrepareJob(*model, &request).isEmpty());
    QCOMPARE(request.mode, std::string(velmora::kModeComplete));
    QCOMPARE(request.settings.kernelHeight, 19);
    QVERIFY(request.picture.data != model->picture().data);  // the job's own copy
    QCOMPARE(cv::norm(request.picture, model->picture(), cv::NORM_INF), 0.0);

    model->setRegion({0.2, 0.1, 0.7, 0.8}, true);
    QVERIFY(PrepareJob(*model, &request).isEmpty());
    QCOMPARE(request.mode, std::string(velmora::kModePartial));
    QCOMPARE(request.region.x, 0.2);

    // Auto: the bound is what the region leaves room for.
    velmora::JobOptions options;
    options.findBlurSize = true;
    model->setOptions(options);
    QVERIFY(PrepareJob(*model, &request).isEmpty());
    const BlurBound bound = AutoBlurBound(300, 360, &model->region());
    QVERIFY(request.options.findBlurSize);
    QCOMPARE(request.settings.kernelHeight, bound.height);
    QCOMPARE(request.settings.kernelWidth, bound.width);

    // A loaded kernel restores the whole picture: no region, no search.
    const cv::Mat kernel = velmora::tools::GenerateShakeKernel(7, 4);
    model->setKnownKernel(kernel, "k.png");
    QVERIFY(PrepareJob(*model, &request).isEmpty());
    QCOMPARE(request.mode, std::string(velmora::kModeRemaining));
    QVERIFY(!request.options.findBlurSize);
    QCOMPARE(request.region.width, 0.0);
    QCOMPARE(cv::norm(request.knownKernel, kernel, cv::NORM_INF), 0.0);
  }

  void runRefusesABlurThePictureCannotHold() {
    std::unique_ptr<DocumentModel> model(Document(TestPicture(300, 400)));
    DeblurSettings settings;
    settings.kernelHeight = settings.kernelWidth = 121;
    model->setSettings(settings);
    JobRequest request;
    QString refusal = PrepareJob(*model, &request);
    QVERIFY2(refusal.endsWith("The largest blur size it allows is 99 x 121."), qPrintable(refusal));
    // A region holds its own size to the region rule, checked when drawn.
    model->setRegion({0.0, 0.0, 1.0, 1.0}, true);
    QVERIFY(PrepareJob(*model, &request).isEmpty());

    velmora::JobOptions options;
    options.findBlurSize = true;
    model->setOptions(options);
    model->setRegion({}, false);
    model->setPicture(cv::Mat(200, 8, CV_8UC3, cv::Scalar::all(90)));
    refusal = PrepareJob(*model, &request);
    QVERIFY2(refusal.startsWith("This 8 x 200 picture is too small for any blur size"), qPrintable(refusal));
  }

  // One wording of each setting, the same while the job runs and after.
  void captionsNameTheSettingsOnceAndAlike() {
    JobDescription job;
    job.settings.smoothness = 0.07f;
    job.settings.reduceRinging = 1;
    job.settings.reduceNoise = 1;
    job.options.highlights = velmora::Highlights::kModel;
    job.options.estimator = velmora::KernelEstimator::kSharp;
    const QString running = SettingsCaption(job);
    QCOMPARE(running, QString("Smoothness = 0.07, Reduce Ringing, Reduce Noise, Protect Highlights, Sharp Estimator"));
    JobOutcome outcome;
    outcome.status = velmora::kJobSucceeded;
    outcome.seconds = 1.25f;
    outcome.processorNotice = "asked for the GPU <and> ran on the CPU";
    QCOMPARE(FinishedCaption(job, outcome),
             running + "<br />Running time 1.250s<br />asked for the GPU &lt;and&gt; ran on the CPU");
    QCOMPARE(CancelledCaption(job), running + "<br />Cancelled");

    // A loaded kernel is named in place of the estimator, escaped.
    job.kernelName = "a<b>.png";
    QVERIFY(SettingsCaption(job).endsWith(", Kernel: a&lt;b&gt;.png"));

    // Auto says so until it has found the size.
    JobDescription search;
    search.options.findBlurSize = true;
    QCOMPARE(SettingsCaption(search), QString("Smoothness = 0.04, Auto Blur Size"));
    outcome = JobOutcome{};
    outcome.status = velmora::kJobEstimationFailed;
    QVERIFY(FinishedCaption(search, outcome).contains("<br />No blur size found<br />Running time "));
    search.foundKernelHeight = 23;
    search.foundKernelWidth = 19;
    QCOMPARE(SettingsCaption(search), QString("Smoothness = 0.04<br />Blur size found: 23 x 19"));
    QVERIFY(JobSummary(search).startsWith("Blur size found: 23 x 19 px\nWhole picture\nEstimator: Classic"));
  }

  void failuresAreExplainedAndSuccessIsNot() {
    JobOutcome outcome;
    for (const int quiet : {int(velmora::kJobSucceeded), int(velmora::kJobCancelled)}) {
      outcome.status = quiet;
      QVERIFY(FailureText(outcome).isEmpty());
    }
    outcome.status = velmora::kJobEstimationFailed;
    QCOMPARE(FailureText(outcome), QString(velmora::kInsufficientInformation));
    outcome.status = velmora::kJobOutOfMemory;
    QCOMPARE(FailureText(outcome), QString("There is not enough memory to deblur this picture."));
    outcome.memoryShortfall = "needs about 9.1 GiB of memory; 6.0 GiB are free";
    QVERIFY(FailureText(outcome).endsWith(": it needs about 9.1 GiB of memory; 6.0 GiB are free."));
    outcome.status = velmora::kJobGpuFailed;
    outcome.processorNotice = "device lost";
    QCOMPARE(FailureText(outcome), QString("The GPU failed during this job:\ndevice lost\n\nLater jobs run on the CPU."));
    // Where the GPU failed, the caption leaves the fault to the box.
    QVERIFY(!FinishedCaption(JobDescription{}, outcome).contains("device lost"));
    outcome.status = velmora::kJobNoMode;
    QCOMPARE(FailureText(outcome), QString("The job ended without a result."));
    outcome.status = velmora::kJobInternalError;
    QCOMPARE(FailureText(outcome), QString("An internal error stopped the job."));
  }

  void theTooltipListsTheJobsSettings() {
    JobDescription job;
    job.regionSelected = true;
    job.region = {0.104, 0.2, 0.5, 0.25};
    job.settings.useCpu = false;
    QCOMPARE(JobSummary(job), QString("Blur size 19 x 19 px\n"
                                      "Region 50 x 25 % of the picture at 10, 20 %\n"
                                      "Estimator: Classic\n"
                                      "Smoothness 0.04\n"
                                      "Reduce Ringing: off\n"
                                      "Reduce Noise: off\n"
                                      "Protect Highlights: off\n"
                                      "Processor: GPU"));
    // A loaded kernel has no blur size to give and no estimator.
    job.kernelName = "shake.png";
    job.regionSelected = false;
    QVERIFY(JobSummary(job).startsWith("Whole picture\nKernel: shake.png\nSmoothness 0.04\n"));
  }
};

VELMORA_GUI_TEST_MAIN(JobsTest)
#include "test_app_jobs.moc"
