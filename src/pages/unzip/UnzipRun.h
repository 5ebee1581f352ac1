#pragma once
// The extraction runner of the unzip page (the worker of a run) and the questions its jobs ask.
#include "ops/JobQuestions.h"
#include "pages/common/JobRunner.h"

class TUnzipPage;

// Runs the page's extract jobs, one at a time.
class Tunzipthread : public TJobRunner {
 public:
  using TJobRunner::TJobRunner;
};

// The questions of the page's extraction jobs, with the page's texts, through the prompt service.
// They run on the extraction worker and touch no widget.
class TUnzipQuestions : public TPromptQuestions {
 public:
  TUnzipQuestions(TUnzipPage& page, TArchiveFormat format) : page_(page), format_(format) {}
  TOverwriteChoice AskOverwrite(const TOverwriteQuestion& q) override;
  TPasswordChoice AskPassword(const std::string& entryName, std::string& password) override;

 private:
  TUnzipPage& page_;
  TArchiveFormat format_;
};
