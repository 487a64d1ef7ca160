// What the engine keeps between a run's steps, in its rooms' own types: seen
// by the engine's own files only.
#pragma once

#include "RepairEngine.h"

#include "DownloadFile.h"
#include "HeldFolder.h"
#include "PassingHold.h"
#include "RepairConfig.h"

#include <memory>

struct RepairEngine::State {
    // Tells the window of waits for held files, and ends them when it closes.
    class HoldReporter : public HoldObserver {
    public:
        explicit HoldReporter(RepairEngine& engine) : engine_(engine) {}
        bool Cancelled() override { return engine_.CancelRequested(); }
        void Holding(const std::wstring& path) override { engine_.PostEvent(FileHeld, path.empty() ? 0 : 1); }

    private:
        RepairEngine& engine_;
    };

    explicit State(RepairEngine& engine) : holdReporter(engine) {}

    HoldReporter holdReporter;
    RepairConfig config;
    // The game folder as the package worker opened it, for its run.
    std::shared_ptr<HeldFolder> gameFolder;
    // A failed package download, for the next repair to resume.
    PartialDownload partialPackage;
};
