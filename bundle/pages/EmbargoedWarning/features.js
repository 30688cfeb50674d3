var Feature_ProductName = "SampleStub";
