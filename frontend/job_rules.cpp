#include "frontend/job_rules.h"

#include <vector>

namespace velmora {

bool BlurFitsPicture(int rows, int cols, int kernelHeight, int kernelWidth) {
  return static_cast<long long>(rows) >= 3LL * kernelHeight && static_cast<long long>(cols) >= 3LL * kernelWidth;
}

std::string FillPlaceholders(const std::string& text, std::initializer_list<int> values) {
  const std::vector<int> v(values);
  std::string filled;
  for (size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    const size_t index = next >= '1' && next <= '9' ? static_cast<size_t>(next - '1') : v.size();
    if (text[i] == '%' && index < v.size()) {
      filled += std::to_string(v[index]);
      ++i;
    } else {
      filled += text[i];
    }
  }
  return filled;
}

std::string BlurTooLargeMessage(int rows, int cols, int kernelHeight, int kernelWidth) {
  return FillPlaceholders(kBlurTooLarge, {kernelHeight, kernelWidth, cols, rows,
                                          LargestBlurSide(rows), LargestBlurSide(cols)});
}

}  // namespace velmora
