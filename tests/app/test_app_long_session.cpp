// A long working session in one window: twenty jobs one after another
// (blind, region, whole picture, a loaded kernel, some cancelled) leave the
// memory where it was after the second; and a GPU that fails in the middle
// of a job ends that job with the error box while the CPU takes the next.
#include <QPushButton>
#include <QRadioButton>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "app/documentmodel.h"
#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/mainwindow.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "engine/gpu_choice.h"
#include "pipeline/progress.h"
#include "src/gpu_check.h"
#include "tests/app/gui_test_support.h"
#include "tests/sanitizers.h"
#include "tools/shake.h"

class LongSessionTest : public QObject, AppFixture {
  Q_OBJECT

  // What the process holds in memory now.
  static double ResidentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
  }

  static void WaitForJob(ImageWidget* page) { VELMORA_WAIT_FOR_JOB(page); }

  // Runs the document's next job; with `cancel`, stops it once it has made
  // progress.
  static ImageWidget* Run(SubMainWindow* d, bool cancel) {
    d->on_btn_run_clicked();
    ImageWidget* page = d->currentPage();
    if (cancel) {
      // The bar is at ten times the job's percentage.
      (void)QTest::qWaitFor([page] { return page->progressBar()->value() > 10 || !page->busy(); }, 30000);
      if (page->busy()) Child<QPushButton>(page, "btn_cancel")->click();
    }
    WaitForJob(page);
    return page;
  }

 private slots:
  void init() { SetUp(); }
  void cleanup() {
    velmora::SendJobsToAbsentGpuForTesting(false);
    velmora::gpu::ResetGpuSwitch();
    gpuAvailable = false;
    TearDown();
  }

  void twentyJobsKeepMemoryFlat() {
    if (velmora::testing::kUnderAddressSanitizer)
      QSKIP("AddressSanitizer holds freed memory in its quarantine, so resident memory says nothing of leaks there");
    SubMainWindow* d = Open(BlurredTestPicture(300, 320, 9));
    const cv::Mat kernel = velmora::tools::GenerateShakeKernel(9, 2);
    double afterSecond = 0.0;
    for (int job = 1; job <= 20; ++job) {
      // Whole picture and region first: the largest arrays are known by the
      // second job.
      d->model()->setKnownKernel(job % 5 == 3 ? kernel : cv::Mat(), "shake.png");
      d->model()->setRegion({0.1, 0.1, 0.75, 0.75}, job % 5 == 2);
      ImageWidget* page = Run(d, job % 5 == 4);
      if (job % 5 == 2 && page->nextShown()) {
        page->result()->runWholePicture();  // then the whole picture with the region's kernel
        WaitForJob(page);
      }
      QVERIFY2(answerer.boxes.isEmpty(), answerer.boxes.isEmpty() ? "" : qPrintable(answerer.boxes[0].text));
      // Closing result pages as a user does keeps the window manageable.
      while (d->tabs()->count() > 3) delete d->tabs()->widget(1);
      if (job == 2) afterSecond = ResidentMegabytes();
    }
    const double afterTwentieth = ResidentMegabytes();
    std::printf("resident memory after the 2nd job %.1f MiB, after the 20th %.1f MiB\n", afterSecond, afterTwentieth);
    QVERIFY2(afterTwentieth <= 1.10 * afterSecond,
             qPrintable(QString("%1 MiB after the 20th job, %2 MiB after the 2nd").arg(afterTwentieth).arg(afterSecond)));
  }

  void gpuFailingMidJobEndsThatJobAndTheCpuTakesTheNext() {
    // As on a machine whose device passed the start-up checks and then fails.
    gpuAvailable = true;
    velmora::gpu::ResetGpuSwitch();
    velmora::SendJobsToAbsentGpuForTesting(true);
    SubMainWindow* d = Open(BlurredTestPicture(240, 260, 7));
    QVERIFY(Child<QRadioButton>(d, "rdb_gpu")->isChecked());
    ImageWidget* failed = Run(d, false);
    QCOMPARE(answerer.titles(), QStringList{"Error"});
    QVERIFY2(answerer.boxes[0].text.startsWith("The GPU failed during this job:"), qPrintable(answerer.boxes[0].text));
    QVERIFY(answerer.boxes[0].text.endsWith("Later jobs run on the CPU."));
    QCOMPARE(cv::norm(failed->result()->image(), d->model()->picture(), cv::NORM_INF), 0.0);  // nothing restored
    QVERIFY(velmora::gpu::GpuDisabled());
    QVERIFY(d->runEnabled());

    answerer.clear();
    ImageWidget* next = Run(d, false);
    QVERIFY2(answerer.boxes.isEmpty(), answerer.boxes.isEmpty() ? "" : qPrintable(answerer.boxes[0].text));
    QVERIFY(next->result()->hasResult());
    QVERIFY2(next->caption().contains("the GPU failed earlier in this session; running on the CPU"),
             qPrintable(next->caption()));
  }
};

VELMORA_GUI_TEST_MAIN(LongSessionTest)
#include "test_app_long_session.moc"
