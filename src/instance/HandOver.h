#pragma once

// What a second start asks of the copy that already runs: a plain start
// brings its main window back, --show-usage its Usage window, and
// -startup (the session starting it once more) nothing.
enum class HandOver { Nothing, ShowMain, ShowUsage };
