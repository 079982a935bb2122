#include "export/placeholder_tables.h"

#include <algorithm>
#include <string>

namespace vi2zezir::transfer {

// Index order is processing order, and it matters: a placeholder that begins
// a longer one matches the longer one's cells first.
const std::array<std::u16string_view, 112> kHeaderPlaceholders = {
    u"&DH_SoldToCompany", u"&DH_SoldToContact", u"&DH_SoldToAddress1", u"&DH_SoldToAddress2",
    u"&DH_SoldToAddress3", u"&DH_SoldToCountry", u"&DH_SoldToPhone", u"&DH_SoldToPhoneExt",
    u"&DH_SoldToFax", u"&DH_SoldToEmail", u"&DH_SoldToPONumber", u"&DH_ShipToCompany",
    u"&DH_ShipToContact", u"&DH_ShipToAddress1", u"&DH_ShipToAddress2", u"&DH_ShipToAddress3",
    u"&DH_ShipToCountry", u"&DH_ShipToPhone", u"&DH_ShipToPhoneExt", u"&DH_ShipToFax",
    u"&DH_ShipToEmail", u"&DH_FOB", u"&DH_DocType", u"&DH_DocStatus",
    u"&DH_DocName", u"&DH_DocNo", u"&DH_DocDate", u"&DH_DocDueDate",
    u"&DH_SalesRep", u"&DH_Terms", u"&DH_IntroductionNotes", u"&DH_ClosingNotes",
    u"&DH_InternalNotes", u"&DH_PurchasingNotes", u"&DH_SubTotal", u"&DH_LocalTax",
    u"&DH_GSTTax", u"&DH_TotalTax", u"&DH_GrandTotal", u"&DH_ShippingAmount",
    u"&DH_CustomText01", u"&DH_CustomText02", u"&DH_CustomText03", u"&DH_CustomText04",
    u"&DH_CustomText05", u"&DH_CustomText06", u"&DH_CustomText07", u"&DH_CustomText08",
    u"&DH_CustomText09", u"&DH_CustomText10", u"&DH_CustomNumber01", u"&DH_CustomNumber02",
    u"&DH_CustomDate01", u"&DH_CustomDate02", u"&DH_SoldToCity", u"&DH_SoldToState",
    // The full list only, from here on.
    u"&DH_SoldToPostalCode", u"&DH_ShipToCity", u"&DH_ShipToState", u"&DH_ShipToPostalCode",
    u"&DH_BillToCompany", u"&DH_BillToContact", u"&DH_BillToAddress1", u"&DH_BillToAddress2",
    u"&DH_BillToAddress3", u"&DH_BillToCountry", u"&DH_BillToPhone", u"&DH_BillToPhoneExt",
    u"&DH_BillToFax", u"&DH_BillToEmail", u"&DH_BillToCity", u"&DH_BillToState",
    u"&DH_BillToPostalCode", u"&DH_SalesRepTitle", u"&DH_ShipVia", u"&DH_SoldToPoNumber",
    u"&DH_CustomText11", u"&DH_CustomText12", u"&DH_CustomText13", u"&DH_CustomText14",
    u"&DH_CustomText15", u"&DH_CustomText16", u"&DH_CustomText17", u"&DH_CustomText18",
    u"&DH_CustomText19", u"&DH_CustomText20", u"&DH_AlternateCommissionAmount",
    u"&DH_&AlternateCurrencyIdentifier", u"&DH_&AlternateCurrencySymbol",
    u"&DH_AlternateDepositAmount", u"&DH_AlternateGrandTotal", u"&DH_AlternateGSTTax",
    u"&DH_AlternateLocalTax", u"&DH_AlternateProfitAmount", u"&DH_AlternateShippingAmount",
    u"&DH_AlternateSubTotal", u"&DH_&AlternateTotalCost", u"&DH_&AlternateTotalList",
    u"&DH_AlternateTotalTax", u"&DH_CustomText21", u"&DH_CustomText22", u"&DH_CustomText23",
    u"&DH_CustomText24", u"&DH_CustomText25", u"&DH_CustomText26", u"&DH_CustomText27",
    u"&DH_CustomText28", u"&DH_CustomMemo01", u"&DH_CustomMemo02", u"&DH_CustomMemo03",
    u"&DH_CustomMemo04", u"&DH_ProjectNo",
};

const std::array<std::u16string_view, 23> kItemShortList = {
    u"&DI_Description", u"&DI_UnitPrice", u"&DI_CustomText10", u"&DI_QtyTotal",
    u"&DI_ManufacturerPartNo", u"&DI_VendorPartNo", u"&DI_Vendor", u"&DI_Manufacturer",
    u"&DI_UnitCost", u"&DI_UnitList", u"&DI_ExtendedCost", u"&DI_ExtendedList",
    u"&DI_CustomText01", u"&DI_CustomText02", u"&DI_CustomText03", u"&DI_CustomText04",
    u"&DI_CustomText05", u"&DI_CustomText06", u"&DI_CustomText07", u"&DI_CustomText08",
    u"&DI_CustomText09", u"&DI_ExtendedPrice", u"&DI_OrderDate",
};

// "&DI_OrderDate" and "&DI_UnitofMeasure" stand twice: the second pass finds
// nothing, since the first cleared every occurrence.
const std::array<std::u16string_view, 61> kItemFullList = {
    u"&DI_Description", u"&DI_UnitPrice", u"&DI_CustomText10", u"&DI_QtyTotal",
    u"&DI_ManufacturerPartNumber", u"&DI_VendorPartNumber", u"&DI_Vendor", u"&DI_Manufacturer",
    u"&DI_UnitCost", u"&DI_UnitList", u"&DI_ExtendedCost", u"&DI_ExtendedList",
    u"&DI_CustomText01", u"&DI_CustomText02", u"&DI_CustomText03", u"&DI_CustomText04",
    u"&DI_CustomText05", u"&DI_CustomText06", u"&DI_CustomText07", u"&DI_CustomText08",
    u"&DI_CustomText09", u"&DI_ExtendedPrice", u"&DI_OrderDate",
    u"&DI_CustomMemo01", u"&DI_CustomMemo02", u"&DI_UnitofMeasure", u"&DI_UnitofMeasureFactor",
    u"&DI_UnitofPricing", u"&DI_UnitofPricingFactor", u"&DI_SONumber", u"&DI_OrderDate",
    u"&DI_Notes", u"&DI_UnitofMeasure", u"&DI_ItemType", u"&DI_QtyBase",
    u"&DI_AlternateExtendedCost", u"&DI_AlternateExtendedPrice", u"&DI_AlternateExtendedList",
    u"&DI_AlternateUnitCost", u"&DI_AlternateUnitPrice", u"&DI_AlternateUnitList",
    u"&DI_AlternateSalesTax", u"&DI_AlternateShippingAmount",
    u"&DI_CustomText11", u"&DI_CustomText12", u"&DI_CustomText13", u"&DI_CustomText14",
    u"&DI_CustomText15", u"&DI_CustomText16", u"&DI_CustomText17", u"&DI_CustomText18",
    u"&DI_CustomText19", u"&DI_CustomText20", u"&DI_CustomText21", u"&DI_CustomText22",
    u"&DI_CustomText23", u"&DI_CustomText24", u"&DI_CustomText25",
    u"&DI_CustomMemo03", u"&DI_CustomMemo04", u"&DI_CustomMemo05",
};

const std::array<std::u16string_view, 40> kMacroPlaceholders = {
    u"&DH_&SalesRepFullName", u"&DH_&SalesRepAddress", u"&DH_&SalesRepFullAddress",
    u"&DH_&SalesRepAddress1", u"&DH_&SalesRepAddress2", u"&DH_&SalesRepAddress3",
    u"&DH_&SalesRepCity", u"&DH_&SalesRepState", u"&DH_&SalesRepPostalCode",
    u"&DH_&SalesRepCountry", u"&DH_&SalesRepPhone", u"&DH_&SalesRepTitle",
    u"&DH_&SalesRepEmail", u"&APP_&LoggedInUserAddress", u"&APP_&LoggedInUserFullAddress",
    u"&APP_LoggedInUserAddress1", u"&APP_LoggedInUserAddress2", u"&APP_LoggedInUserAddress3",
    u"&APP_LoggedInUserCity", u"&APP_LoggedInUserState", u"&APP_LoggedInUserPostalCode",
    u"&APP_LoggedInUserCountry", u"&APP_LoggedInUserName", u"&APP_LoggedInUserFullName",
    u"&APP_LoggedInUserTitle", u"&APP_LoggedInUserPhone", u"&APP_LoggedInUserPhoneExt",
    u"&APP_LoggedInUserFax", u"&APP_LoggedInUserFaxExt", u"&APP_LoggedInUserEmail",
    u"&DH_&SalesRepPhoneExt", u"&DH_&SalesRepFax", u"&DH_&SalesRepFaxExt",
    u"&APP_OurLocationCompany", u"&APP_OurLocationContact", u"&APP_&OurLocationAddress",
    u"&APP_&OurLocationFullAddress", u"&APP_OurLocationPhoneNumber",
    u"&APP_OurLocationFaxNumber", u"&APP_OurLocationEmail",
};

std::u16string FieldName(std::u16string_view placeholder, std::u16string_view prefix) {
    std::u16string name(placeholder);
    for (std::size_t at = name.find(prefix); at != std::u16string::npos; at = name.find(prefix, at))
        name.erase(at, prefix.size());
    return name;
}

bool IsMemoPlaceholder(std::u16string_view placeholder) {
    return placeholder.find(u"Memo") != std::u16string_view::npos;
}

namespace {
constexpr std::array<std::u16string_view, 6> kType2Fields = {
    u"&DI_Description", u"&DI_CustomMemo01", u"&DI_CustomMemo02",
    u"&DI_CustomMemo03", u"&DI_CustomMemo04", u"&DI_CustomMemo05",
};
} // namespace

bool WrittenOnType2Line(std::u16string_view placeholder) {
    return std::find(kType2Fields.begin(), kType2Fields.end(), placeholder) != kType2Fields.end();
}

bool WrittenOnType4Line(std::u16string_view placeholder) {
    return WrittenOnType2Line(placeholder) || placeholder == kExtendedPricePlaceholder;
}

} // namespace vi2zezir::transfer
