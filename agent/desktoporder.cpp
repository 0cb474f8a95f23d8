#include "desktoporder.h"

#include "clinicapi.h"

#include <QCryptographicHash>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace vek::agent {

namespace {

int ReadCopies(const QJsonValue &value)
{
    if (!value.isDouble())
        return 1;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return 1;
    // Out-of-range counts stay out of range, so the print refuses them.
    if (number > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (number < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(number);
}

}  // namespace

std::optional<DesktopOrder> ReadDesktopOrder(const QJsonObject &claimReply)
{
    const QJsonObject order = claimReply.value(clinic::kOrder).toObject();
    if (order.isEmpty())
        return std::nullopt;
    DesktopOrder result;
    result.id = order.value(clinic::kId).toString();
    result.claimToken = order.value(clinic::kClaimToken).toString();
    if (result.id.isEmpty() || result.claimToken.isEmpty())
        return std::nullopt;
    result.systemName
        = order.value(clinic::kPrinter).toObject().value(clinic::kSystemName).toString();
    const QJsonObject profile = order.value(clinic::kProfile).toObject();
    result.profileId = profile.value(clinic::kId).toString();
    result.profileVersion = profile.value(clinic::kVersion).toString();
    result.copies = ReadCopies(profile.value(clinic::kCopies));
    // Characters outside the standard alphabet are skipped; decoding never fails.
    result.document = QByteArray::fromBase64(
        order.value(clinic::kDocumentBase64).toString().toLatin1(), QByteArray::Base64Encoding);
    const QByteArray hash
        = QCryptographicHash::hash(result.document, QCryptographicHash::Sha256).toHex();
    result.hashMatches = QString::fromLatin1(hash) == order.value(clinic::kContentHash).toString();
    return result;
}

}  // namespace vek::agent
