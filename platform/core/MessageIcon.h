#pragma once

// The icon of a message box, for every layer that asks for one; the dialogs
// of the platform layer draw it.
enum class MessageIcon { None, Information, Warning, Error };
