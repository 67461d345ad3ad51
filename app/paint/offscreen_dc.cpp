#include "app/paint/offscreen_dc.h"

namespace quelt {

OffscreenDC::OffscreenDC(DC* target) : m_pDC(target) {
  m_pDC->GetClipBox(&m_rect);
  CreateCompatibleDC(m_pDC);
  POINT corners[2] = {{m_rect.left, m_rect.top}, {m_rect.right, m_rect.bottom}};
  m_pDC->LPtoDP(corners, 2);
  m_bitmap.CreateCompatibleBitmap(*m_pDC, corners[1].x - corners[0].x, corners[1].y - corners[0].y);
  m_oldBitmap = SelectObject(&m_bitmap);
  SetMapMode(m_pDC->GetMapMode());
  SetWindowExt(m_pDC->GetWindowExt());
  SetViewportExt(m_pDC->GetViewportExt());
  m_pDC->DPtoLP(corners, 2);
  SetWindowOrg(corners[0].x, corners[0].y);
  FillSolidRect(m_rect, m_pDC->GetBkColor());
}

OffscreenDC::~OffscreenDC() {
  m_pDC->BitBlt(m_rect.left, m_rect.top, m_rect.Width(), m_rect.Height(), this, m_rect.left,
                m_rect.top, SRCCOPY);
  if (m_oldBitmap != nullptr) SelectObject(m_oldBitmap);
  m_bitmap.DeleteObject();
  DeleteDC();
}

}  // namespace quelt
