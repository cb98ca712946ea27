// The job a press of Run asks for, from what the document holds: its
// picture and settings, the region when one is drawn, the blur size an Auto
// search may reach, or the kernel the user loaded.
#pragma once

#include <QString>

#include "app/documentmodel.h"
#include "app/jobcontroller.h"

// Fills *request and returns an empty text, or returns why there is no job
// (the blur does not fit the picture), as the "Error" box says it.
QString PrepareJob(const DocumentModel& model, JobRequest* request);
