#pragma once
// How a modal window ended, with the values front ends hand back: 0 while
// it is open, 1 for OK, 2 for Cancel.

namespace firmora::windows {

enum class ModalResult { None = 0, Ok = 1, Cancel = 2 };

}  // namespace firmora::windows
