// The main window's content as a window template: the window and its twelve controls with their
// names, ids, positions, texts, fonts, colours, flags and the one event binding. The build turns it
// into the template data the program carries (see template_gen.cpp); nothing here runs at start-up.
#pragma once

#include <cstdint>

#include "runtime/windows/window_template.h"

namespace quorvane {

inline constexpr uint32_t kMainWindowUnitId = 0x06010000;

// Control ids.
inline constexpr uint32_t kChapterBoxId = 0x1601598A;    // 编辑框_章节
inline constexpr uint32_t kCourseBoxId = 0x16015988;     // 编辑框_课程
inline constexpr uint32_t kVelmoraRadioId = 0x16015986;  // 单选框_Velmora
inline constexpr uint32_t kTandrelRadioId = 0x16015985;  // 单选框_Tandrel
inline constexpr uint32_t kTypeBoxId = 0x16012E12;       // 编辑框_类型
inline constexpr uint32_t kQueryButtonId = 0x16010005;   // 按钮_查询
inline constexpr uint32_t kAnswerBoxId = 0x16010004;     // 编辑框_答案
inline constexpr uint32_t kQuestionBoxId = 0x16010002;   // 编辑框_题目

// Event handlers are named by their byte offset into the program's handler table, which is the
// program's code base.
inline constexpr int32_t kQueryClickHandlerOffset = 0;

qv::TemplateCollection MainWindowTemplates();

}  // namespace quorvane
