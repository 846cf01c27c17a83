// Stand-in for a header that some packagings of Open CASCADE 7.6 leave out
// although its B-rep headers include it. The benchmark never makes, reads or
// destroys these arrays itself (the library does, built with its own
// header), so declarations that let the including headers compile suffice.
#pragma once

#include <Standard_TypeDef.hxx>

template <int MyAlignSize = 16>
class NCollection_AliasedArray {
 public:
  explicit NCollection_AliasedArray(Standard_Integer theStride) : myStride(theStride) {}
  NCollection_AliasedArray(Standard_Integer theStride, Standard_Integer theLength)
      : myStride(theStride), mySize(theLength) {}
  template <typename T>
  NCollection_AliasedArray(const T& theBegin, Standard_Integer theLength)
      : myData(reinterpret_cast<Standard_Byte*>(const_cast<T*>(&theBegin))),
        myStride(static_cast<Standard_Integer>(sizeof(T))),
        mySize(theLength) {}
  NCollection_AliasedArray(NCollection_AliasedArray&& theOther) { Move(theOther); }
  NCollection_AliasedArray& Move(NCollection_AliasedArray& theOther) {
    myData = theOther.myData;
    myStride = theOther.myStride;
    mySize = theOther.mySize;
    theOther.myData = nullptr;
    theOther.mySize = 0;
    return *this;
  }
  Standard_Boolean IsEmpty() const { return mySize == 0; }
  Standard_Integer Length() const { return mySize; }
  Standard_Integer Size() const { return mySize; }
  Standard_Integer Stride() const { return myStride; }
  template <typename T>
  const T& Value(Standard_Integer theIndex) const {
    return *reinterpret_cast<const T*>(myData + myStride * theIndex);
  }
  template <typename T>
  T& ChangeValue(Standard_Integer theIndex) {
    return *reinterpret_cast<T*>(myData + myStride * theIndex);
  }

 protected:
  Standard_Byte* myData = nullptr;
  Standard_Integer myStride = 0;
  Standard_Integer mySize = 0;
  Standard_Boolean myToDeleteData = false;
};
