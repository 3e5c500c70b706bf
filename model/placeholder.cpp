namespace tessel {}
