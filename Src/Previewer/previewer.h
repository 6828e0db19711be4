// The preview window of one engine, as the engine sees it. The window side
// (which needs the toolkit) implements it and registers a factory; the engine
// creates one previewer with the first preview frame and frees it when the
// preview-window flag is cleared or the engine goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace quillon {

class TBitmap;

class TPreviewer {
public:
    virtual ~TPreviewer() = default;

    // Shows the picture with its frame number and presentation time
    // (microseconds; AV_NOPTS_VALUE when unknown). Window work happens on the
    // main thread: directly when called there, otherwise handed to it while
    // the caller waits. The picture stays unchanged until this returns. True
    // while the window is open; false once the user has closed it (the engine
    // then stops previewing for that task).
    virtual bool ShowFrame(const TBitmap& picture, int frame_number, int64_t pts) = 0;

    // The destructor tears the window down on the main thread in the same way.
    // The engine never calls ShowFrame or destroys a previewer while holding
    // preview_lock, so the main thread may take that lock while it serves them.
};

using PreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;

// Registers how previewers are made (the application does this once at start;
// an empty factory removes it). The engine calls the factory on its worker
// while it holds preview_lock: the factory must not wait for the main thread
// (the window itself is made with the first frame).
void SetPreviewerFactory(PreviewerFactory factory);

// A new previewer, or none when no factory is registered (no windows).
std::unique_ptr<TPreviewer> CreatePreviewer();

} // namespace quillon
