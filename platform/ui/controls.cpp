// The built-in control classes: EDIT over QLineEdit (single line) and QPlainTextEdit (ES_MULTILINE),
// BUTTON (push buttons and automatic radio buttons) and STATIC, both drawn here so that the
// Windows alignment, word-wrap and left-text styles come out as on Windows.
#include <QApplication>
#include <QAbstractButton>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QValidator>
#include <climits>
#include <vector>
#include <cstdint>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win::ui_detail {

namespace {

// What the user may enter before EM_LIMITTEXT is sent, and what "no limit" (0) stands for.
constexpr int64_t kDefaultEditLimit = 32767;
constexpr int64_t kSingleLineMaximum = 0x7FFFFFFE;
constexpr int64_t kMultiLineMaximum = 0xFFFFFFFF;

// A radio button's circle and the room between it and the caption, as Windows draws them.
constexpr int kIndicatorSize = 13;
constexpr int kIndicatorGap = 3;
// The room between a button's image and its caption.
constexpr int kImageGap = 4;

// Windows edit boxes show the password character the program chose; Qt asks the style for it.
class PasswordCharacterStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter && widget != nullptr) {
      const QVariant character = widget->property("qvPasswordChar");
      if (character.isValid()) return character.toInt();
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// Whether an edit box draws a frame.
bool HasBorder(DWORD style, DWORD exStyle) {
  return (style & WS_BORDER) != 0 || (exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME)) != 0;
}

// An edit box with WS_EX_CLIENTEDGE alone has the square sunken edge of the standard control,
// drawn here in the system's colours; the other borders keep Qt's frames.
bool HasClientEdge(DWORD exStyle) { return (exStyle & (WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME)) == WS_EX_CLIENTEDGE; }
constexpr int kClientEdgeWidth = 2;

// Two lines around the rectangle: shadow outside and dark shadow inside at the top and left,
// highlight outside and light inside at the bottom and right.
void DrawClientEdge(QPainter& painter, const QRect& rect) {
  const auto line = [&painter](const QRect& r, int topLeft, int bottomRight) {
    painter.setPen(ToQColor(GetSysColor(topLeft)));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(ToQColor(GetSysColor(bottomRight)));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  };
  line(rect, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
  line(rect.adjusted(1, 1, -1, -1), COLOR_3DDKSHADOW, COLOR_3DLIGHT);
}

// The horizontal alignment of an edit box's text.
Qt::Alignment EditAlignment(DWORD editStyle) {
  if (editStyle & ES_RIGHT) return Qt::AlignRight;
  if (editStyle & ES_CENTER) return Qt::AlignHCenter;
  return Qt::AlignLeft;
}

QStyle* PasswordStyle() {
  static auto* style = new PasswordCharacterStyle;  // lives as long as the application
  return style;
}

// What edit boxes of both kinds share: the filter, the case styles, the limit and the messages.
class EditBinding : public WindowBinding {
 public:
  // The part of an insertion that may go in: refused characters out, case converted, cut to the
  // room the limit leaves once replacedLength characters are gone from currentLength.
  QString Admit(const QString& inserted, int64_t currentLength, int64_t replacedLength) const {
    QString admitted;
    for (QChar c : inserted) {
      if (c.unicode() >= 32 && m_filter && !m_filter(c.unicode())) continue;
      if (windowStyle & ES_UPPERCASE) c = c.toUpper();
      if (windowStyle & ES_LOWERCASE) c = c.toLower();
      admitted += c;
    }
    const int64_t room = std::max<int64_t>(0, m_limit - (currentLength - replacedLength));
    if (admitted.size() > room) {
      qsizetype cut = static_cast<qsizetype>(room);
      // Never half a surrogate pair.
      if (cut > 0 && admitted.at(cut - 1).isHighSurrogate()) --cut;
      admitted.truncate(cut);
    }
    return admitted;
  }

  void SetFilter(std::function<bool(char16_t)> filter) { m_filter = std::move(filter); }
  // The frame from windowStyle and exStyle.
  virtual void ApplyBorder() = 0;

  // Without ES_NOHIDESEL the selection is shown only while the box has the focus: the highlight
  // takes the colours of the text around it meanwhile.
  void ApplyColors() override {
    WindowBinding::ApplyColors();
    if ((windowStyle & ES_NOHIDESEL) != 0 || m_focused) return;
    QWidget* widget = Widget();
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(group, QPalette::Highlight, palette.color(group, QPalette::Base));
      palette.setColor(group, QPalette::HighlightedText, palette.color(group, QPalette::Text));
    }
    widget->setPalette(palette);
  }

  // The kind of box, its password character and its scroll bars stay as created, as on Windows;
  // the rest is taken again (the case styles act on later input by themselves).
  void StyleChanged(DWORD oldStyle, DWORD) override {
    constexpr DWORD kFixed = ES_MULTILINE | ES_PASSWORD | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL;
    windowStyle = (windowStyle & ~kFixed) | (oldStyle & kFixed);
    ApplyStyles();
    ApplyColors();  // ES_NOHIDESEL
    Widget()->update();
  }

  void FocusChanged(bool focused) {
    m_focused = focused;
    ApplyColors();
    NotifyParent(*this, focused ? EN_SETFOCUS : EN_KILLFOCUS);
  }

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    switch (message) {
      case EM_GETSEL: {
        int start = 0;
        int end = 0;
        Selection(start, end);
        if (wParam != 0) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
        if (lParam != 0) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
        result = start > 0xFFFF || end > 0xFFFF ? -1 : MAKELPARAM(start, end);
        return true;
      }
      case EM_SETSEL: {
        const int length = TextLength();
        const auto start = static_cast<int64_t>(static_cast<int32_t>(wParam));
        const auto end = static_cast<int64_t>(static_cast<int32_t>(lParam));
        if (start < 0) {
          Deselect();
        } else {
          Select(static_cast<int>(std::min<int64_t>(start, length)),
                 end < 0 ? length : static_cast<int>(std::min<int64_t>(end, length)));
        }
        return true;
      }
      case EM_REPLACESEL: {
        int start = 0;
        int end = 0;
        Selection(start, end);
        // Text from the program is not filtered, but it cannot go past the limit either.
        QString text = GbkToQString(reinterpret_cast<LPCSTR>(lParam));
        const int64_t room = std::max<int64_t>(0, m_limit - (TextLength() - std::abs(end - start)));
        if (text.size() > room) text.truncate(static_cast<qsizetype>(room));
        ReplaceSelection(text);
        return true;
      }
      case EM_LIMITTEXT:
        m_limit = wParam == 0 ? PlatformMaximum() : static_cast<int64_t>(std::min<WPARAM>(wParam, PlatformMaximum()));
        return true;
      case EM_GETLIMITTEXT:
        result = static_cast<LRESULT>(m_limit);
        return true;
      case EM_SETREADONLY:
        windowStyle = wParam != 0 ? windowStyle | ES_READONLY : windowStyle & ~ES_READONLY;
        SetReadOnly(wParam != 0);
        result = TRUE;
        return true;
      case EM_SETPASSWORDCHAR:
        SetPasswordCharacter(static_cast<char>(wParam & 0xFF));
        return true;
      case EM_GETPASSWORDCHAR:
        result = static_cast<unsigned char>(m_passwordCharacter);
        return true;
      case WM_COPY:
        CopySelection();
        return true;
      default:
        return false;
    }
  }

 protected:
  virtual int TextLength() const = 0;
  virtual void Selection(int& start, int& end) const = 0;
  virtual void Select(int start, int end) = 0;
  virtual void Deselect() = 0;
  virtual void ReplaceSelection(const QString& text) = 0;
  virtual void SetReadOnly(bool readOnly) = 0;
  virtual void SetPasswordCharacter(char character) { m_passwordCharacter = character; }
  virtual void CopySelection() = 0;
  virtual int64_t PlatformMaximum() const = 0;
  // Alignment, read-only and frame from windowStyle and exStyle.
  virtual void ApplyStyles() = 0;

  std::function<bool(char16_t)> m_filter;
  int64_t m_limit = kDefaultEditLimit;
  char m_passwordCharacter = 0;
  bool m_settingText = false;  // the program is setting the text: no filter, no limit
  bool m_focused = false;
};

class SingleLineEdit;

// Every change of a QLineEdit passes its validator, whatever made it: typing, a paste (keys or
// context menu), input-method text, a drop or undo. The validator finds the inserted run by
// comparing with the text before and lets through what the box admits.
class InsertionValidator : public QValidator {
 public:
  explicit InsertionValidator(SingleLineEdit* edit);
  State validate(QString& input, int& position) const override;

 private:
  SingleLineEdit* m_edit;
};

class SingleLineEdit : public QLineEdit, public EditBinding {
 public:
  explicit SingleLineEdit(DWORD editStyle) {
    setMaxLength(INT_MAX);  // the box keeps its own limit, counted after filtering
    setValidator(new InsertionValidator(this));
    // The text starts at the top of the box, however high it is, as in the standard control.
    setAlignment(EditAlignment(editStyle) | Qt::AlignTop);
    setReadOnly((editStyle & ES_READONLY) != 0);
    if (editStyle & ES_PASSWORD) SetPasswordCharacter('*');
    connect(this, &QLineEdit::textChanged, this, [this] {
      m_lastText = text();
      NotifyParent(*this, EN_CHANGE);
    });
  }

  QWidget* Widget() override { return this; }
  // QLineEdit keeps control characters such as CR in its text and shows them as spaces.
  void SetText(const QString& text) override {
    m_settingText = true;
    setText(text);
    setCursorPosition(0);  // Windows puts the caret at the start of a new text
    m_settingText = false;
    m_lastText = this->text();
  }
  QString Text() const override { return text(); }

  QValidator::State Validate(QString& input, int& position) const {
    if (m_settingText) return QValidator::Acceptable;
    const QString& old = m_lastText;
    qsizetype prefix = 0;
    while (prefix < old.size() && prefix < input.size() && old[prefix] == input[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < old.size() - prefix && suffix < input.size() - prefix &&
           old[old.size() - 1 - suffix] == input[input.size() - 1 - suffix]) {
      ++suffix;
    }
    const QString inserted = input.mid(prefix, input.size() - prefix - suffix);
    if (inserted.isEmpty()) return QValidator::Acceptable;  // only a deletion
    const qsizetype removed = old.size() - prefix - suffix;
    const QString admitted = Admit(inserted, old.size(), removed);
    if (admitted == inserted) return QValidator::Acceptable;
    // Nothing admitted and nothing removed: the keystroke or paste has no effect.
    if (admitted.isEmpty() && removed == 0) return QValidator::Invalid;
    input = old.left(prefix) + admitted + old.right(suffix);
    position = static_cast<int>(prefix + admitted.size());
    return QValidator::Acceptable;
  }

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    FocusChanged(true);
  }
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    FocusChanged(false);
  }
  int TextLength() const override { return static_cast<int>(text().size()); }
  void Selection(int& start, int& end) const override {
    if (hasSelectedText()) {
      start = selectionStart();
      end = selectionEnd();
    } else {
      start = end = cursorPosition();
    }
  }
  void Select(int start, int end) override { setSelection(start, end - start); }
  void Deselect() override { deselect(); }
  void ReplaceSelection(const QString& text) override {
    m_settingText = true;
    insert(text);
    m_settingText = false;
  }
  void SetReadOnly(bool readOnly) override {
    // QLineEdit sets its own pointer for read-only boxes; one from SetWindowCursor stays.
    const QCursor shown = cursor();
    setReadOnly(readOnly);
    if (cursorHandle != nullptr) setCursor(shown);
  }
  void ApplyStyles() override {
    setAlignment(EditAlignment(windowStyle) | Qt::AlignTop);
    SetReadOnly((windowStyle & ES_READONLY) != 0);
    ApplyBorder();
  }
  void ApplyBorder() override {
    const bool edge = HasClientEdge(exStyle);
    setFrame(!edge && HasBorder(windowStyle, exStyle));
    const int inset = edge ? kClientEdgeWidth : 0;
    setTextMargins(inset, inset, inset, inset);
  }
  void paintEvent(QPaintEvent* event) override {
    QLineEdit::paintEvent(event);
    if (!HasClientEdge(exStyle)) return;
    QPainter painter(this);
    DrawClientEdge(painter, rect());
  }
  void SetPasswordCharacter(char character) override {
    EditBinding::SetPasswordCharacter(character);
    if (character == 0) {
      windowStyle &= ~ES_PASSWORD;
      setEchoMode(QLineEdit::Normal);
      return;
    }
    windowStyle |= ES_PASSWORD;
    setProperty("qvPasswordChar", static_cast<int>(GbkToQString(std::string(1, character).c_str()).at(0).unicode()));
    setStyle(PasswordStyle());
    setEchoMode(QLineEdit::Password);
  }
  void CopySelection() override {
    // A password box gives nothing away, as on Windows.
    if (echoMode() == QLineEdit::Normal && hasSelectedText()) QApplication::clipboard()->setText(selectedText());
  }
  int64_t PlatformMaximum() const override { return kSingleLineMaximum; }

 private:
  QString m_lastText;
};

InsertionValidator::InsertionValidator(SingleLineEdit* edit) : QValidator(edit), m_edit(edit) {}
QValidator::State InsertionValidator::validate(QString& input, int& position) const {
  return m_edit->Validate(input, position);
}

// The layout of a multi-line edit as Windows draws it: no margin above the text, one pixel on its
// left, and lines one cell (the font's pixel size) apart where the face's own line spacing is
// larger. Qt lays each block out; the lines are moved into their cells when the block is asked for.
class CellDocumentLayout : public QPlainTextDocumentLayout {
 public:
  static constexpr qreal kLeftMargin = 1;

  explicit CellDocumentLayout(QTextDocument* document) : QPlainTextDocumentLayout(document) {}

  QRectF blockBoundingRect(const QTextBlock& block) const override {
    QRectF bounds = QPlainTextDocumentLayout::blockBoundingRect(block);
    QTextLayout* layout = block.layout();
    if (!block.isVisible() || layout == nullptr || layout->lineCount() == 0) return bounds;
    const int step = CellLineHeight(document()->defaultFont());
    const qreal natural = layout->lineAt(0).height();
    const qreal offset = step < natural ? (step - natural) / 2 : 0;
    const qreal lineStep = step < natural ? step : natural;
    for (int i = 0; i < layout->lineCount(); ++i) {
      QTextLine line = layout->lineAt(i);
      const QPointF wanted(kLeftMargin, i * lineStep + offset);
      if (line.position() != wanted) line.setPosition(wanted);
    }
    if (step < natural) bounds.setHeight(layout->lineCount() * lineStep);
    return bounds;
  }
};

// A multi-line box keeps each line break as it was written: CR LF (the box's own), a lone CR or a
// lone LF. Qt has one kind of paragraph break, so the user state of each block records the kind
// of the break that ends it (-1, Qt's default, for CR LF). Qt keeps the later block's state when
// it joins two blocks, which is the break that now ends the joined one; a split is repaired by
// InsertText.
constexpr int kBreakCrLf = -1;
constexpr int kBreakCr = 1;
constexpr int kBreakLf = 2;

QString BreakText(int kind) {
  if (kind == kBreakCr) return QStringLiteral("\r");
  if (kind == kBreakLf) return QStringLiteral("\n");
  return QStringLiteral("\r\n");
}

// A text with '\n' for every break, and the kind of each break in order.
struct BrokenText {
  QString lines;
  std::vector<int> breaks;
};

BrokenText BreakLines(const QString& text) {
  BrokenText broken;
  broken.lines.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
      broken.breaks.push_back(kBreakCrLf);
      ++i;
    } else if (c == QLatin1Char('\r')) {
      broken.breaks.push_back(kBreakCr);
    } else if (c == QLatin1Char('\n')) {
      broken.breaks.push_back(kBreakLf);
    } else {
      broken.lines += c;
      continue;
    }
    broken.lines += QLatin1Char('\n');
  }
  return broken;
}

class MultiLineEdit : public QPlainTextEdit, public EditBinding {
 public:
  explicit MultiLineEdit(DWORD editStyle) {
    auto* cellDocument = new QTextDocument(this);
    cellDocument->setDocumentLayout(new CellDocumentLayout(cellDocument));
    setDocument(cellDocument);
    // Lines wrap unless the box scrolls sideways.
    const bool wraps = (editStyle & (WS_HSCROLL | ES_AUTOHSCROLL)) == 0;
    setLineWrapMode(wraps ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy((editStyle & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy((editStyle & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(0);
    QTextOption option = document()->defaultTextOption();
    if (editStyle & ES_CENTER) option.setAlignment(Qt::AlignHCenter);
    if (editStyle & ES_RIGHT) option.setAlignment(Qt::AlignRight);
    document()->setDefaultTextOption(option);
    SetReadOnly((editStyle & ES_READONLY) != 0);
    // Windows sends no change notification when the program sets the text of a multi-line box.
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
      if (!m_settingText) NotifyParent(*this, EN_CHANGE);
    });
  }

  QWidget* Widget() override { return this; }
  void SetText(const QString& text) override {
    const BrokenText broken = BreakLines(text);
    m_settingText = true;
    setPlainText(broken.lines);
    QTextBlock block = document()->begin();
    for (const int kind : broken.breaks) {
      block.setUserState(kind);
      block = block.next();
    }
    m_settingText = false;
  }
  QString Text() const override {
    QString text;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
      text += block.text();
      if (block.next().isValid()) text += BreakText(block.userState());
    }
    return text;
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    QString text = event->text();
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) text = QStringLiteral("\n");
    const bool typing = !text.isEmpty() && (text.at(0).unicode() >= 32 || text == "\n" || text == "\t") &&
                        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
    if (isReadOnly() || !typing) {
      QPlainTextEdit::keyPressEvent(event);
      return;
    }
    QString admitted = Admit(text, TextLength(), textCursor().selectedText().size());
    if (!admitted.isEmpty()) {
      InsertText(admitted.replace(QLatin1Char('\n'), QStringLiteral("\r\n")));  // Enter: the box's own break
      ensureCursorVisible();
    }
    event->accept();
  }
  void inputMethodEvent(QInputMethodEvent* event) override {
    if (isReadOnly() || event->commitString().isEmpty()) {
      QPlainTextEdit::inputMethodEvent(event);
      return;
    }
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    filtered.setCommitString(Admit(event->commitString(), TextLength(), textCursor().selectedText().size()),
                             event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&filtered);
  }
  // Pastes and drops.
  void insertFromMimeData(const QMimeData* source) override {
    if (isReadOnly() || source == nullptr || !source->hasText()) return;
    // Every break of pasted text becomes the box's own, as if typed.
    const QString text = DisplayLineBreaks(source->text());
    QString admitted = Admit(text, TextLength(), textCursor().selectedText().size());
    if (!admitted.isEmpty()) InsertText(admitted.replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
    ensureCursorVisible();
  }

  // Replaces the selection with text, its line breaks kept as they are. Removing the selection
  // leaves the break that ended it on the joined block; the insertion then splits that block, and
  // Qt leaves that break on the first part: it belongs to the last.
  void InsertText(const QString& text) {
    const BrokenText broken = BreakLines(text);
    QTextCursor cursor = textCursor();
    const int first = document()->findBlock(cursor.selectionStart()).blockNumber();
    const int endingBreak = document()->findBlock(cursor.selectionEnd()).userState();
    cursor.insertText(broken.lines);
    QTextBlock block = document()->findBlockByNumber(first);
    for (const int kind : broken.breaks) {
      block.setUserState(kind);
      block = block.next();
    }
    if (block.isValid()) block.setUserState(endingBreak);
  }

  void focusInEvent(QFocusEvent* event) override {
    QPlainTextEdit::focusInEvent(event);
    FocusChanged(true);
  }
  void focusOutEvent(QFocusEvent* event) override {
    QPlainTextEdit::focusOutEvent(event);
    FocusChanged(false);
  }
  int TextLength() const override { return static_cast<int>(document()->characterCount() - 1); }
  void Selection(int& start, int& end) const override {
    start = textCursor().selectionStart();
    end = textCursor().selectionEnd();
  }
  void Select(int start, int end) override {
    QTextCursor cursor = textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
  }
  void Deselect() override {
    QTextCursor cursor = textCursor();
    cursor.clearSelection();
    setTextCursor(cursor);
  }
  void ReplaceSelection(const QString& text) override {
    m_settingText = true;
    InsertText(text);
    m_settingText = false;
  }
  void SetReadOnly(bool readOnly) override {
    setReadOnly(readOnly);
    // Read-only text can still be selected with the mouse and the keyboard, and copied.
    if (readOnly) setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  void CopySelection() override { copy(); }
  int64_t PlatformMaximum() const override { return kMultiLineMaximum; }
  void ApplyStyles() override {
    QTextOption option = document()->defaultTextOption();
    option.setAlignment(EditAlignment(windowStyle));
    document()->setDefaultTextOption(option);
    SetReadOnly((windowStyle & ES_READONLY) != 0);
    ApplyBorder();
  }
  void ApplyBorder() override {
    const bool edge = HasClientEdge(exStyle);
    if (edge || !HasBorder(windowStyle, exStyle)) {
      setFrameShape(QFrame::NoFrame);
    } else {
      setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    }
    const int inset = edge ? kClientEdgeWidth : 0;
    setViewportMargins(inset, inset, inset, inset);
  }
  // The scroll area paints its own margins (the viewport paints the text): the edge goes there.
  bool event(QEvent* event) override {
    const bool handled = QPlainTextEdit::event(event);
    if (event->type() == QEvent::Paint && HasClientEdge(exStyle)) {
      QPainter painter(this);
      DrawClientEdge(painter, rect());
    }
    return handled;
  }
};

// Horizontal and vertical Qt alignment of a BUTTON; push buttons centre by default, radio
// buttons put their text on the left; both centre vertically.
Qt::Alignment ButtonAlignment(DWORD buttonStyle, bool pushLike) {
  Qt::Alignment alignment;
  switch (buttonStyle & BS_CENTER) {
    case BS_LEFT: alignment = Qt::AlignLeft; break;
    case BS_RIGHT: alignment = Qt::AlignRight; break;
    case BS_CENTER: alignment = Qt::AlignHCenter; break;
    default: alignment = pushLike ? Qt::AlignHCenter : Qt::AlignLeft; break;
  }
  switch (buttonStyle & BS_VCENTER) {
    case BS_TOP: return alignment | Qt::AlignTop;
    case BS_BOTTOM: return alignment | Qt::AlignBottom;
    default: return alignment | Qt::AlignVCenter;
  }
}

class ButtonWidget : public QAbstractButton, public WindowBinding {
 public:
  ButtonWidget() {
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, &ButtonWidget::OnClicked);
  }

  QWidget* Widget() override { return this; }
  void SetText(const QString& text) override {
    setText(text);
    update();
  }
  QString Text() const override { return text(); }
  bool IsAutoRadio() const { return (windowStyle & BS_TYPEMASK) == BS_AUTORADIOBUTTON; }
  bool IsPushLike() const { return !IsAutoRadio() || (windowStyle & BS_PUSHLIKE) != 0; }

  void ApplyColors() override {
    // Push buttons keep the system's face and text, as themed Windows buttons do.
    if (IsPushLike()) return;
    WindowBinding::ApplyColors();
  }
  // Everything a button shows is read from its styles as it paints; a radio box that became push
  // -like drops its colours, one that became a radio box takes them.
  void StyleChanged(DWORD oldStyle, DWORD) override {
    const bool wasPushLike = (oldStyle & BS_TYPEMASK) != BS_AUTORADIOBUTTON || (oldStyle & BS_PUSHLIKE) != 0;
    if (IsPushLike() && !wasPushLike) {
      setPalette(QPalette());
      setAutoFillBackground(false);
    } else {
      ApplyColors();
    }
    update();
  }

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    switch (message) {
      case BM_GETCHECK:
        result = IsAutoRadio() ? static_cast<LRESULT>(m_state) : 0;
        return true;
      case BM_SETCHECK:
        // Only the state changes: the rest of the group is left as it is, as on Windows.
        if (IsAutoRadio()) {
          m_state = wParam <= BST_INDETERMINATE ? wParam : BST_CHECKED;
          update();
        }
        return true;
      case BM_CLICK:
        if (isEnabled()) click();
        return true;
      case BM_GETIMAGE:
        result = wParam == IMAGE_BITMAP ? reinterpret_cast<LRESULT>(m_image) : 0;
        return true;
      case BM_SETIMAGE: {
        // Only bitmaps; a handle that is no live bitmap is refused and the image stays.
        const auto bitmap = reinterpret_cast<HBITMAP>(lParam);
        if (wParam != IMAGE_BITMAP || (bitmap != nullptr && !BitmapImage(bitmap, nullptr))) {
          result = 0;
          return true;
        }
        result = reinterpret_cast<LRESULT>(m_image);
        m_image = bitmap;
        update();
        return true;
      }
      default:
        return false;
    }
  }

  // Where the caption goes: inside the push button's edge, or beside the indicator.
  QRect CaptionRect() const {
    if (IsPushLike()) return rect().adjusted(4, 3, -4, -3);
    const int textWidth = std::max(0, width() - kIndicatorSize - kIndicatorGap);
    const bool textLeft = (windowStyle & BS_LEFTTEXT) != 0;
    return QRect(textLeft ? 0 : kIndicatorSize + kIndicatorGap, 0, textWidth, height());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    QRect textRect = CaptionRect();
    const bool pushLike = IsPushLike();
    if (pushLike) {
      option.features = QStyleOptionButton::None;
      if (windowStyle & BS_FLAT) option.features |= QStyleOptionButton::Flat;
      if ((windowStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON) option.features |= QStyleOptionButton::DefaultButton;
      const bool pressed = isDown() || (IsAutoRadio() && m_state == BST_CHECKED);
      option.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
      if (IsAutoRadio() && m_state == BST_CHECKED) option.state |= QStyle::State_On;
      QWidget::style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
      if (pressed) textRect.translate(1, 1);
    } else {
      const int indicatorWidth = kIndicatorSize;
      const int indicatorHeight = kIndicatorSize;
      const bool textLeft = (windowStyle & BS_LEFTTEXT) != 0;
      int top = (height() - indicatorHeight) / 2;
      if ((windowStyle & BS_VCENTER) == BS_TOP) top = 0;
      if ((windowStyle & BS_VCENTER) == BS_BOTTOM) top = height() - indicatorHeight;
      option.rect = QRect(textLeft ? width() - indicatorWidth : 0, top, indicatorWidth, indicatorHeight);
      option.state |= m_state == BST_CHECKED ? QStyle::State_On
                      : m_state == BST_INDETERMINATE ? QStyle::State_NoChange
                                                     : QStyle::State_Off;
      if (isDown()) option.state |= QStyle::State_Sunken;
      QWidget::style()->drawPrimitive(QStyle::PE_IndicatorRadioButton, &option, &painter, this);
    }
    int flags = static_cast<int>(ButtonAlignment(windowStyle, pushLike)) | Qt::TextShowMnemonic;
    if (windowStyle & BS_MULTILINE) flags |= Qt::TextWordWrap;
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.setPen(palette().color(group, pushLike ? QPalette::ButtonText : QPalette::WindowText));
    // A bitmap from BM_SETIMAGE goes left of the caption, the two placed together as the caption
    // alone would be. The handle is looked up at every paint: a deleted bitmap is not drawn.
    const QString caption = DisplayLineBreaks(text());
    QImage image;
    if (m_image != nullptr && BitmapImage(m_image, &image)) {
      const bool hasText = !caption.isEmpty();
      const int gap = hasText ? kImageGap : 0;
      const QRect textArea = textRect.adjusted(image.width() + gap, 0, 0, 0);
      const QRect measured = hasText ? DrawCellText(painter, textArea, flags, caption, false) : QRect();
      const int groupWidth = image.width() + gap + (hasText ? measured.width() : 0);
      int left = textRect.left();
      if (flags & Qt::AlignHCenter) left = textRect.left() + (textRect.width() - groupWidth) / 2;
      if (flags & Qt::AlignRight) left = textRect.right() + 1 - groupWidth;
      int top = textRect.top() + (textRect.height() - image.height()) / 2;
      if (flags & Qt::AlignTop) top = textRect.top();
      if (flags & Qt::AlignBottom) top = textRect.bottom() + 1 - image.height();
      painter.save();
      painter.setClipRect(rect(), Qt::IntersectClip);
      painter.drawImage(QPoint(left, top), image);
      painter.restore();
      // The caption keeps its own layout, moved to follow the image.
      textRect = hasText ? textArea.translated(left + image.width() + gap - measured.left(), 0) : QRect();
    }
    const QRect drawn = textRect.isNull() ? QRect() : DrawCellText(painter, textRect, flags, caption);
    if (hasFocus() && !pushLike) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = drawn.adjusted(-1, 0, 1, 0);
      QWidget::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }
  bool hitButton(const QPoint& position) const override { return rect().contains(position); }

 private:
  void OnClicked() {
    if (IsAutoRadio()) {
      m_state = BST_CHECKED;
      UncheckGroup();
      update();
    }
    NotifyParent(*this, BN_CLICKED);
  }

  // The group runs, in stacking order, from the nearest sibling at or above this one that has
  // WS_GROUP down to the next sibling with WS_GROUP.
  void UncheckGroup() {
    QWidget* parent = parentWidget();
    if (parent == nullptr) return;
    const std::vector<WindowBinding*> siblings = ChildrenFromTop(parent);
    const auto self = std::find(siblings.begin(), siblings.end(), static_cast<WindowBinding*>(this));
    if (self == siblings.end()) return;
    auto first = self;
    while (first != siblings.begin() && ((*first)->windowStyle & WS_GROUP) == 0) --first;
    auto last = self + 1;
    while (last != siblings.end() && ((*last)->windowStyle & WS_GROUP) == 0) ++last;
    for (auto it = first; it != last; ++it) {
      auto* button = dynamic_cast<ButtonWidget*>(*it);
      if (button == nullptr || button == this || !button->IsAutoRadio() || button->m_state == BST_UNCHECKED) continue;
      button->m_state = BST_UNCHECKED;
      button->update();
    }
  }

  WPARAM m_state = BST_UNCHECKED;
  HBITMAP m_image = nullptr;  // not owned
};

class StaticWidget : public QWidget, public WindowBinding {
 public:
  QWidget* Widget() override { return this; }
  void SetText(const QString& text) override {
    m_text = text;
    update();
  }
  QString Text() const override { return m_text; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const int border = BorderWidth();
    if (border > 0) {
      painter.setPen(palette().color(QPalette::Dark));
      painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    int flags = Qt::TextExpandTabs;
    switch (windowStyle & SS_TYPEMASK) {
      case SS_CENTER: flags |= Qt::AlignHCenter | Qt::TextWordWrap; break;
      case SS_RIGHT: flags |= Qt::AlignRight | Qt::TextWordWrap; break;
      case SS_SIMPLE:
      case SS_LEFTNOWORDWRAP: flags |= Qt::AlignLeft; break;
      default: flags |= Qt::AlignLeft | Qt::TextWordWrap; break;
    }
    flags |= (windowStyle & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
    if ((windowStyle & SS_NOPREFIX) == 0) flags |= Qt::TextShowMnemonic;
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    DrawCellText(painter, rect().adjusted(border, border, -border, -border), flags, DisplayLineBreaks(m_text));
  }
  // Without SS_NOTIFY a static control lets clicks through to its parent, as on Windows.
  void mousePressEvent(QMouseEvent* event) override {
    if (windowStyle & SS_NOTIFY) {
      event->accept();
    } else {
      event->ignore();
    }
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if ((windowStyle & SS_NOTIFY) == 0) {
      event->ignore();
      return;
    }
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      NotifyParent(*this, STN_CLICKED);
    }
  }

 private:
  QString m_text;
};

}  // namespace

QRect ButtonCaptionRect(QWidget* control) {
  auto* button = dynamic_cast<ButtonWidget*>(control);
  return button != nullptr ? button->CaptionRect() : QRect();
}

WindowBinding* CreateBuiltInControl(const std::string& upperClassName, DWORD style, DWORD exStyle) {
  if (upperClassName == "EDIT") {
    EditBinding* edit = nullptr;
    if (style & ES_MULTILINE) {
      edit = new MultiLineEdit(style);
    } else {
      edit = new SingleLineEdit(style);
    }
    edit->windowStyle = style;
    edit->exStyle = exStyle;
    edit->ApplyBorder();
    return edit;
  }
  if (upperClassName == "BUTTON") return new ButtonWidget;
  if (upperClassName == "STATIC") return new StaticWidget;
  if (upperClassName == "MSCTLS_UPDOWN32") return CreateUpDownControl();
  return nullptr;
}

}  // namespace win::ui_detail

namespace win {

BOOL SetEditInputFilter(HWND edit, std::function<bool(char16_t)> accept) {
  ui_detail::WindowBinding* binding = ui_detail::FindBinding(edit);
  if (binding == nullptr) return FALSE;
  auto* editBinding = dynamic_cast<ui_detail::EditBinding*>(binding);
  if (editBinding == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  editBinding->SetFilter(std::move(accept));
  return TRUE;
}

}  // namespace win
