// ViewerConfigPanel: the right column's viewer settings. It edits the AppState's
// ViewerConfig (colour maps, scalars and their ranges for the 3D and 2D views, background
// and point colour, grid and origin, cloud offset and rotation, point size, the 2D view on
// or off), shows a histogram of the newest frame under each range slider, fits a range to
// the frame in the background, and after every change publishes ViewerConfigChanged so
// that the views recolour.
//
// Contract: Consume may be called on any thread (frames and actions go into queues with
// their own mutexes; at most 5 frames are kept). Everything else runs on the GUI thread.
// Each view has at most one fit task at a time (RangeFit); "changed" is published when a
// fit ends, and a reset waits for running fits before it stores the defaults. The
// destructor waits for running fits.
#pragma once

#include <cstddef>
#include <memory>

#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/AppState.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/ObjectDispatcher.h"
#include "app/ThreadSafeQueue.h"
#include "views/RangeFit.h"
#include "views/ViewerConfigLogic.h"

namespace orbel::studio::gui {

class ViewerConfigPanel : public IConsumer<FrameData>, public IConsumer<AppAction> {
public:
    static constexpr std::size_t kMaxQueuedFrames = 5;

    ViewerConfigPanel() = default;
    ~ViewerConfigPanel() override = default;
    ViewerConfigPanel(const ViewerConfigPanel&) = delete;
    ViewerConfigPanel& operator=(const ViewerConfigPanel&) = delete;

    // The panel publishes through the context's dispatcher; without one it publishes nothing.
    void SetAppContext(const std::shared_ptr<AppContext>& context);
    void SetDispatcher(std::shared_ptr<ObjectDispatcher> dispatcher) { dispatcher_ = std::move(dispatcher); }

    void Consume(std::shared_ptr<FrameData> frame) override;
    // ClearViews drops the current frame and a pending 2D fit (at the next draw).
    void Consume(std::shared_ptr<AppAction> action) override;

    // Draws the controls into the current ImGui window and applies the edits.
    void DrawViewerConfigPanel(const std::shared_ptr<AppState>& appState);
    // Waits for both fits, then stores every default of ViewerConfig into `config`.
    void ResetConfiguration(ViewerConfig& config);

    const std::shared_ptr<FrameData>& CurrentFrame() const { return current_; }
    const Histogram& Histogram3D() const { return histogram3D_; }
    const Histogram& Histogram2D() const { return histogram2D_; }
    ScalarBounds Bounds3D() const { return bounds3D_; }
    ScalarBounds Bounds2D() const { return bounds2D_; }
    bool FitRunning3D() const { return fit3D_.Running(); }
    bool FitRunning2D() const { return fit2D_.Running(); }
    std::size_t QueuedFrames() const { return frames_.Size(); }

private:
    void Publish(AppActionType type);
    // Returns whether a setting changed.
    bool Draw3DSection(const std::shared_ptr<AppState>& appState, ViewerConfig& config);
    bool Draw2DSection(const std::shared_ptr<AppState>& appState, ViewerConfig& config, bool newFrame);
    void Update3DHistogram(const ViewerConfig& config, bool force);

    std::shared_ptr<ObjectDispatcher> dispatcher_;
    std::shared_ptr<FrameData> current_;
    ScalarBounds bounds2D_{0.0f, 300.0f};
    ScalarBounds bounds3D_{-15000.0f, 15000.0f};
    ThreadSafeQueue<FrameData> frames_;
    ThreadSafeQueue<AppAction> actions_;
    Histogram histogram3D_;
    Histogram histogram2D_;
    RangeFit fit3D_{RangeFit::Target::View3D};
    RangeFit fit2D_{RangeFit::Target::View2D};

    // What the 3D histogram was last built from.
    const FrameData* histogram3DFrame_ = nullptr;
    ScalarType histogram3DType_ = ScalarType::ZAxis;
    ScalarBounds histogram3DBounds_;
};

}  // namespace orbel::studio::gui
